"""The server process as its host runs it: in console mode (on TCP and on the named channel), in
service mode as systemd drives it (the test owns the notification socket, $NOTIFY_SOCKET, and
sends the stop control, SIGTERM, itself), and the command-line forms that start no server."""
import os
import signal
import socket
import subprocess
import time

import pytest

import pictora_wire as w
from server_process import ServerProcess, binary, cli, port_open, scaled, wait_until


def test_end_of_input_is_no_stop_but_a_remote_stop_request_is():
    with ServerProcess() as server:
        server.start()
        server.send_keys('x')
        server.process.stdin.close()
        time.sleep(1.0)
        assert server.process.poll() is None
        dce = w.connect(server.port)
        assert w.call(dce, w.SetStopFlag, Text1='whatever', Text2='')['Result'] == 1
        assert server.finish() == 0
        assert '\nStop command was issued' in server.stdout
        assert 'Shutting down Server running at endpoint' in server.stderr
        assert not port_open(server.port)


@pytest.mark.parametrize('stop', ['q', 'Q', signal.SIGINT, signal.SIGTERM])
def test_key_or_signal_ends_console_mode_cleanly(stop):
    with ServerProcess() as server:
        server.start()
        if isinstance(stop, str):
            server.send_keys('abc' + stop)
        else:
            server.process.send_signal(stop)
        assert server.finish() == 0
        assert 'Stop command was issued' not in server.stdout
        assert 'Shutting down Server running at endpoint' in server.stderr


def test_named_channel_with_authentication_on():
    with ServerProcess() as server:
        server.write_configuration('<ActivateAuthentication>true</ActivateAuthentication>')
        server.start()
        assert 'Server listening at endpoint: \\pipe\\KorvanePictora' in server.log.text()
        assert not port_open(server.port)  # the configured TCP port is not served then
        dce = w.connect(server.pipe_path)
        assert w.version(dce) == '1.0.0.2'
        dce.disconnect()
        # The client tool finds it there as well.
        assert cli(server, 'version', pipe='KorvanePictora').returncode == 0
        basic = cli(server, '--output', 'xml', 'info', pipe='KorvanePictora')
        assert basic.returncode == 0 and '<Basic>' in basic.stdout
        server.send_keys('q')
        assert server.finish() == 0
        assert 'Shutting down Server running at endpoint' in server.stderr


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


# What counts as a problem is proven by ConfigurationCheckTest; here: the installation's files are
# found, the exit status, and start-up logging the same problems.
def test_check_config_and_start_up_report_each_problem_with_its_file():
    with ServerProcess() as server:
        server.write_configuration('<RpcCallTimeoutMs>banana</RpcCallTimeoutMs>')
        server.write_server_file('Pictora.Services', '<Pictora><Server><Services>')
        check = lambda: subprocess.run([binary('pictora-server'), '--check-config'], env=server.env,
                                       capture_output=True, timeout=15, text=True)
        done = check()
        assert done.returncode == 1
        lines = done.stdout.splitlines()
        assert lines[0] == os.path.join(server.server_folder, 'Pictora.PTSConfig') + \
            ": Config/RpcCallTimeoutMs: 'banana' is not a whole number"
        assert lines[1].startswith(os.path.join(server.server_folder, 'Pictora.Services') + ': the document does not')
        server.start()
        server.log.wait_for(r'Configuration problem: .*Pictora\.Services: the document does not parse')
        server.stop()
        server.write_configuration()
        server.write_server_file('Pictora.Services', '<Pictora><Server><Services/></Server></Pictora>')
        done = check()
        assert (done.returncode, done.stdout) == (0, 'configuration checked: no problem found\n')


# Which words start which mode is proven by CommandLineTest.
def test_service_mode_outside_systemd_says_so_in_one_line_and_starts_no_server():
    env = {name: value for name, value in os.environ.items() if name != 'NOTIFY_SOCKET'}
    done = subprocess.run([binary('pictora-server'), 'some-allow-list'], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=15, text=True)
    assert (done.returncode, done.stdout) == (0, '')
    assert 'systemd' in done.stderr and len(done.stderr.strip().splitlines()) == 1


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


# ---- service mode ----------------------------------------------------------------------------

class NotifySocket:
    def __init__(self, folder):
        self.path = os.path.join(folder, 'notify.sock')
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.sock.setblocking(False)
        self.messages = []

    def lines(self):
        """Every line received so far."""
        try:
            while True:
                self.messages.append(self.sock.recv(65536).decode())
        except BlockingIOError:
            return [line for message in self.messages for line in message.split('\n')]

    def wait_for(self, line, timeout=15):
        return wait_until(lambda: line in self.lines(), timeout)


def start_service(server, extra_env=None):
    notify = NotifySocket(server.root)
    server.env['NOTIFY_SOCKET'] = notify.path
    server.env.update(extra_env or {})
    server.start(args=['', str(server.port)], wait_listening=False)
    return notify


def test_ready_then_stopping_on_sigterm_and_a_clean_exit():
    with ServerProcess() as server:
        notify = start_service(server)
        assert notify.wait_for('READY=1')
        assert port_open(server.port)  # ready means listening
        # A remote stop request does not stop a service.
        assert w.call(w.connect(server.port), w.SetStopFlag, Text1='', Text2='')['Result'] == 1
        time.sleep(0.8)
        assert server.process.poll() is None
        started = time.monotonic()
        server.process.send_signal(signal.SIGTERM)
        assert notify.wait_for('STOPPING=1')
        assert server.finish() == 0
        assert time.monotonic() - started < scaled(5)
        assert 'Shutting down Server running at endpoint' in server.stderr
        assert not any(line.startswith('STATUS=') and 'Error' in line for line in notify.lines())


def test_start_failure_reports_the_reason_and_exits_with_1():
    with ServerProcess() as server, socket.socket() as occupant:
        occupant.bind(('127.0.0.1', 0))
        occupant.listen()
        server.port = occupant.getsockname()[1]
        notify = start_service(server)
        assert server.finish() == 1
        statuses = [line for line in notify.lines() if line.startswith('STATUS=')]
        assert statuses and 'ServerCore.Server.Init' in statuses[-1]  # the core's status text
        assert 'READY=1' not in notify.lines()


def test_watchdog_is_fed_at_half_its_interval():
    # The interval grows with the time scale: a slow machine delays every feed a little, and 4
    # feeds in 3.75 intervals still tell feeding at half the interval (7) from feeding at the
    # whole interval (3).
    interval = scaled(0.4)
    with ServerProcess() as server:
        notify = start_service(server, {'WATCHDOG_USEC': str(int(interval * 1e6))})
        assert notify.wait_for('READY=1')
        time.sleep(3.75 * interval)
        assert notify.lines().count('WATCHDOG=1') >= 4
        assert server.stop() == 0
