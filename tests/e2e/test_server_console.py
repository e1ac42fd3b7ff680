"""The server process in console mode: how it starts, stops and fails, on TCP and on the named
channel, and the command-line forms that do not start a server."""
import os
import signal
import socket
import subprocess
import time

import pytest

import pictora_wire as w
from server_process import ServerProcess, binary, cli, port_open, wait_until


def assert_clean_close(server):
    assert 'Shutting down Server running at endpoint' in server.stderr


def test_end_of_input_is_no_stop_but_a_remote_stop_request_is():
    with ServerProcess() as server:
        server.start()
        server.send_keys('x')
        server.process.stdin.close()
        time.sleep(1.0)
        assert server.process.poll() is None
        dce = w.connect_tcp(server.port)
        assert w.version(dce) == '1.0.0.2'
        assert w.call(dce, w.SetStopFlag, Text1='whatever', Text2='')['Result'] == 1
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


def test_named_channel_with_authentication_on():
    with ServerProcess() as server:
        server.write_configuration('<ActivateAuthentication>true</ActivateAuthentication>')
        server.start()
        assert 'Server listening at endpoint: \\pipe\\KorvanePictora' in server.log.text()
        assert not port_open(server.port)  # the configured TCP port is not served then
        assert oct(os.stat(server.pipe_path).st_mode & 0o777) == oct(0o666)
        dce = w.connect_unix(server.pipe_path)
        assert w.version(dce) == '1.0.0.2'
        w.session(dce)
        dce.disconnect()
        # The client tool finds it there as well.
        assert cli(server, 'version', pipe='KorvanePictora').returncode == 0
        basic = cli(server, 'info', pipe='KorvanePictora')
        assert basic.returncode == 0 and '<Basic>' in basic.stdout
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
        assert server.finish() == 0
        assert server.stdout.endswith('\nPress any key\n')
        assert 'ServerCore.Server.Init' in server.stdout.splitlines()[0]  # the core's status text


@pytest.mark.parametrize('args,stdout,stderr', [
    ([], '', ''),
    (['-UNINSTALL'], 'not available', ''),
    (['--uninstall'], 'not available', ''),
    (['some-allow-list'], '', 'systemd'),
])
def test_forms_that_start_no_server(args, stdout, stderr):
    env = dict(os.environ)
    env.pop('NOTIFY_SOCKET', None)
    done = subprocess.run([binary('pictora-server')] + args, env=env, stdin=subprocess.DEVNULL,
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
            [binary('pictora-server'), '-console', '', str(server.port)], env=server.env, stdin=slave,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_until(lambda: port_open(server.port), 15)
        raw = termios.tcgetattr(slave)
        assert not raw[3] & termios.ICANON and not raw[3] & termios.ECHO
        os.write(master, b'q')  # no Enter
        assert server.process.wait(timeout=10) == 0
    assert termios.tcgetattr(slave) == before
    os.close(master)
    os.close(slave)
