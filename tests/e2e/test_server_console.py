"""The server process in console mode: how it starts, stops and fails, on TCP and on the named
channel, and the command-line forms that do not start a server."""
import os
import signal
import socket
import subprocess
import time

import pytest

import pictora_wire as w
from server_process import ServerProcess, port_open, server_binary, wait_until

PROVIDER_XML = ('<ServiceProvider><Config><HostMachine>127.0.0.1</HostMachine><Endpoint>%d'
                '</Endpoint></Config><Dynamic><Load>0</Load></Dynamic></ServiceProvider>\x00')


def request_stop(dce):
    req = w.SetStopFlag()
    req['Text1'], req['Text2'] = w.z('whatever'), w.z('')
    return dce.request(req, checkError=False)['Result']


def version(dce):
    req = w.GetVersion()
    req['Version'] = w.z('x' * 20)
    return w.unz(dce.request(req, checkError=False)['Version'])


def assert_clean_close(server):
    assert 'Shutting down Server running at endpoint' in server.stderr


def open_session(dce, application='Provider'):
    req = w.OpenSession()
    req['Info'] = w.z('<SessionInfo><Application>%s</Application></SessionInfo>' % application)
    req['SessionId'], req['ErrText'] = w.z('x' * 36), w.z('e' * 100)
    resp = dce.request(req, checkError=False)
    assert resp['Result'] == 1
    return w.unz(resp['SessionId'])


def register(dce, sid, name, port, service=None):
    """Registers provider `name` at 127.0.0.1:port and, if given, one service of it."""
    items = [(w.AddServiceProvider, PROVIDER_XML % port)]
    if service:
        items.append((w.AddServices, '<Pictora><ImageServices><Service><Name>%s</Name></Service>'
                                     '</ImageServices></Pictora>\x00' % service))
    for cls, data in items:
        req = cls()
        req['Session'], req['Name'], req['Length'] = w.z(sid), w.z(name), len(data)
        req['Data'], req['ErrText'] = [bytes([b]) for b in data.encode()], w.z('e' * 4000)
        assert dce.request(req, checkError=False)['Result'] == 1


def lookup(dce, sid, service):
    req = w.GetServiceProvidersFor()
    req['Session'], req['Name'], req['Size'], req['ErrText'] = w.z(sid), w.z(service), 4000, w.z('e')
    return dce.request(req, checkError=False)['Result']


def test_remote_stop_request_ends_console_mode():
    with ServerProcess() as server:
        server.start()
        assert request_stop(w.connect_tcp(server.port)) == 1
        assert server.finish() == 0
        assert '\nStop command was issued' in server.stdout
        assert_clean_close(server)
        assert not port_open(server.port)


@pytest.mark.parametrize('stop', ['q', 'Q', signal.SIGINT, signal.SIGTERM])
def test_key_or_signal_ends_console_mode_cleanly(stop):
    with ServerProcess() as server:
        server.start()
        if isinstance(stop, str):
            server.send_keys('abc' + stop)
        else:
            server.signal(stop)
        assert server.finish() == 0
        assert 'Stop command was issued' not in server.stdout
        assert_clean_close(server)


def test_end_of_input_is_not_a_stop():
    with ServerProcess() as server:
        server.start()
        server.send_keys('x')
        server.process.stdin.close()
        time.sleep(1.0)
        assert server.process.poll() is None
        assert version(w.connect_tcp(server.port)) == '1.0.0.2'
        server.signal(signal.SIGTERM)
        assert server.finish() == 0


def test_named_channel_with_authentication_on():
    with ServerProcess() as server:
        server.start_on_pipe()
        # The channel's socket file appears just before the line is written.
        assert wait_until(lambda: 'Server listening at endpoint: \\pipe\\KorvanePictora' in server.stderr_so_far(), 10)
        assert not port_open(server.port)  # the configured TCP port is not served then
        assert oct(os.stat(server.pipe_path).st_mode & 0o777) == oct(0o666)
        dce = w.connect_unix(server.pipe_path)
        assert version(dce) == '1.0.0.2'
        open_session(dce, 'Viewer')
        dce.disconnect()
        server.send_keys('q')
        assert server.finish() == 0
        assert not os.path.exists(server.pipe_path)
        assert_clean_close(server)


def test_start_failure_prints_the_status_and_does_not_wait_on_a_pipe():
    with ServerProcess() as server, socket.socket() as occupant:
        occupant.bind(('127.0.0.1', 0))
        occupant.listen()
        server.port = occupant.getsockname()[1]
        # The server listens on every address; a port taken on loopback is in use for it too.
        server.start(wait_listening=False)
        assert server.finish(timeout=15) == 0
        assert server.stdout.endswith('\nPress any key\n')
        first_line = server.stdout.splitlines()[0]
        assert 'ServerCore.Server.Init' in first_line  # the core's status text


@pytest.mark.parametrize('args,stdout,stderr', [
    ([], '', ''),
    (['some-allow-list'], '', 'systemd'),
])
def test_forms_that_start_no_server(args, stdout, stderr):
    env = dict(os.environ)
    env.pop('NOTIFY_SOCKET', None)
    done = subprocess.run([server_binary()] + args, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=15, text=True)
    assert done.returncode == 0
    assert (stdout in done.stdout) and (stdout or done.stdout == '')
    assert (stderr in done.stderr) and (stderr or done.stderr == '')
    if stderr:
        assert len(done.stderr.strip().splitlines()) == 1


def test_terminal_quits_on_a_single_key_and_gets_its_settings_back():
    import pty
    import termios
    master, slave = pty.openpty()
    before = termios.tcgetattr(slave)
    with ServerProcess() as server:
        server.process = subprocess.Popen(
            [server_binary(), '-console', '', str(server.port)], env=server.env, stdin=slave,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_until(lambda: port_open(server.port), 15)
        raw = termios.tcgetattr(slave)
        assert not raw[3] & termios.ICANON and not raw[3] & termios.ECHO
        os.write(master, b'q')  # no Enter
        assert server.process.wait(timeout=10) == 0
    assert termios.tcgetattr(slave) == before
    os.close(master)
    os.close(slave)


def test_stop_while_calls_wait_for_the_registry_lock():
    """A lookup holds the registry lock while a silent provider keeps it waiting; more calls
    queue for the lock; then the operator stops the server. The close must not wait for calls
    that wait for the close."""
    import threading
    with ServerProcess() as server, socket.socket() as silent:
        silent.bind(('127.0.0.1', 0))
        silent.listen(16)
        server.write_services('<Service><Name>Maps</Name><ServiceProviders>Mute</ServiceProviders>'
                              '</Service>\n')
        server.write_configuration('<Endpoint>%d</Endpoint><RpcCallTimeoutMs>2000</RpcCallTimeoutMs>'
                                   % server.port)
        server.start(args=['-console'])
        dce = w.connect_tcp(server.port, timeout=60)
        sid = open_session(dce)
        register(dce, sid, 'Mute', silent.getsockname()[1], 'Maps')

        def client(work):
            try:
                work(w.connect_tcp(server.port, timeout=60))
            except Exception:
                pass  # cut off by the stop: expected

        def lookups(connection):
            for _ in range(3):
                lookup(connection, sid, 'Maps')

        threads = [threading.Thread(target=client, args=(lookups,), daemon=True) for _ in range(2)]
        threads += [threading.Thread(target=client, args=(open_session,), daemon=True)
                    for _ in range(20)]
        for thread in threads:
            thread.start()
            time.sleep(0.01)
        time.sleep(0.5)
        server.send_keys('q')
        assert server.finish(timeout=40) == 0
        assert_clean_close(server)
