"""Service mode as systemd drives it, without systemd: the test owns the notification socket
($NOTIFY_SOCKET) and sends the stop control (SIGTERM) itself."""
import os
import signal
import socket
import time

import pictora_wire as w
from server_process import ServerProcess, port_open, scaled, wait_until


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
        assert w.call(w.connect_tcp(server.port), w.SetStopFlag, Text1='', Text2='')['Result'] == 1
        time.sleep(0.8)
        assert server.process.poll() is None
        started = time.monotonic()
        server.signal(signal.SIGTERM)
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
