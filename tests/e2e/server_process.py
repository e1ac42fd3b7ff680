"""The real programs as child processes, from $PICTORA_BIN_DIR (else the newest build folder):
pictora-server in a throw-away installation (its own home, installation key, pipe folder and
free loopback port, never /var/lib, /etc or a fixed port), pictora-provider and pictora-cli.

PICTORA_TEST_TIME_SCALE (a factor, default 1) slows every wait for sanitizer builds and loaded
machines; a test that bounds a duration by a configured time-out grows that time-out too, so
"one time-out, not two" keeps its meaning at any factor."""
import fcntl
import glob
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

def scaled(seconds):
    return seconds * max(float(os.environ.get('PICTORA_TEST_TIME_SCALE') or 1), 1.0)


def binary(name):
    if os.environ.get('PICTORA_BIN_DIR'):
        return os.path.join(os.environ['PICTORA_BIN_DIR'], name)
    found = sorted(glob.glob(os.path.join(os.path.dirname(__file__), '..', '..', 'build', '*', 'bin', name)),
                   key=os.path.getmtime)
    assert found, '%s not built (set PICTORA_BIN_DIR)' % name
    return os.path.abspath(found[-1])


_claimed_ports = []  # lock files held for this process's life; the kernel drops the locks at exit


def _ephemeral_low():
    try:
        with open('/proc/sys/net/ipv4/ip_local_port_range') as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 0


def free_port():
    """A free loopback port nobody else is handed meanwhile. Ports the kernel gives out for port 0
    also serve outgoing connections, and concurrent tests may be given the same one, so ports come
    from below the ephemeral range, each claimed by a lock file that every test process honours."""
    low = _ephemeral_low()
    if low <= 12000:
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            return s.getsockname()[1]
    folder = os.path.join(tempfile.gettempdir(), 'pictora-test-ports-%d' % os.getuid())
    os.makedirs(folder, exist_ok=True)
    for _ in range(1000):
        port = random.randrange(10000, low)
        claim = None
        try:
            claim = open(os.path.join(folder, str(port)), 'a')
            fcntl.flock(claim, fcntl.LOCK_EX | fcntl.LOCK_NB)
            with socket.socket() as s:
                s.bind(('127.0.0.1', port))
        except OSError:
            if claim:
                claim.close()
            continue
        _claimed_ports.append(claim)
        return port
    raise RuntimeError('no free loopback port between 10000 and %d' % low)


def wait_until(predicate, timeout, step=0.05):
    deadline = time.monotonic() + scaled(timeout)
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def port_open(port):
    try:
        with socket.create_connection(('127.0.0.1', port), timeout=0.5):
            return True
    except OSError:
        return False


def stop_process(process, sig=signal.SIGTERM, timeout=15):
    """Sends `sig` (if any) unless the process has ended; kills it after `timeout`. Its exit code."""
    if sig is not None and process.poll() is None:
        process.send_signal(sig)
    try:
        process.wait(scaled(timeout))
    except subprocess.TimeoutExpired:
        process.kill()
    return process.wait()


class LogFile:
    """A file a child process writes its output to."""

    def __init__(self, path):
        self.path = path

    def text(self):
        with open(self.path, 'rb') as f:
            return f.read().decode('latin-1')

    def wait_for(self, pattern, timeout=10):
        found = wait_until(lambda: re.search(pattern, self.text()), timeout)
        assert found, 'no %r in:\n%s' % (pattern, self.text())
        return found


class ServerProcess:
    """One server process in its own installation. Use as a context manager; the folder is
    removed afterwards. `key` is added to its installation key; by default the metrics page is
    off, so that no test serves the default (fixed) port."""

    def __init__(self, extra_env=None, key='MetricsEndpoint=\n'):
        self.root = tempfile.mkdtemp(prefix='pictora-e2e-')
        self.port = free_port()
        appdata, pipe_dir, docs = (os.path.join(self.root, name) for name in ('appdata', 'pipe', 'docs'))
        self.pipe_path = os.path.join(pipe_dir, 'KorvanePictora')
        self.server_folder = os.path.join(appdata, 'Korvane', 'Pictora', 'Server')
        for folder in (self.server_folder, pipe_dir, docs):
            os.makedirs(folder)
        registry = os.path.join(self.root, 'pictora.conf')
        with open(registry, 'w') as f:
            f.write('Version=1.0.0.0\n' + key)
        self.env = dict(os.environ, PICTORA_COMMON_APPDATA=appdata, PICTORA_REGISTRY_FILE=registry,
                        PICTORA_PIPE_DIR=pipe_dir, PICTORA_DOCUMENTS=docs)
        self.env.pop('NOTIFY_SOCKET', None)
        self.env.update(extra_env or {})
        self.process = None
        self.group = None  # a group of its own, for packet filters to single it out
        self.out, self.log = (LogFile(os.path.join(self.root, name)) for name in ('stdout.txt', 'stderr.txt'))

    def write_server_file(self, name, text):
        with open(os.path.join(self.server_folder, name), 'w') as f:
            f.write(text)

    def write_services(self, *services):
        """A service is a name (meant for every provider) or (name, "Provider1;Provider2")."""
        self.write_server_file('Pictora.Services', (
            '<?xml version="1.0" standalone="yes"?>\n<Pictora><Server><Services>\n%s</Services></Server></Pictora>\n'
            % ''.join('<Service><Name>%s</Name><Source>src</Source><State>On</State><Properties></Properties>'
                      '<ServiceProviders>%s</ServiceProviders></Service>\n'
                      % ((s, '') if isinstance(s, str) else s) for s in services)))

    def write_configuration(self, config_children=''):
        """The configuration file with this server's port and the given elements. Without a
        definitions block the command line's endpoint does not rewrite it."""
        self.write_server_file('Pictora.PTSConfig', '<?xml version="1.0" standalone="yes"?><Pictora><Server>'
                               '<Config><Endpoint>%d</Endpoint>%s</Config></Server></Pictora>'
                               % (self.port, config_children))

    def start(self, args=None, wait_listening=True):
        if args is None:
            args = ['-console', '', str(self.port)]
        # Files, not pipes: a chatty server must never block on output nobody reads yet.
        with open(self.out.path, 'wb') as out, open(self.log.path, 'wb') as err:
            self.process = subprocess.Popen([binary('pictora-server')] + args, env=self.env, stdin=subprocess.PIPE,
                                            stdout=out, stderr=err, group=self.group)
        if wait_listening:
            ok = wait_until(lambda: self.process.poll() is not None or
                            'Server listening at endpoint' in self.log.text(), 15)
            assert ok and self.process.poll() is None, 'server did not start: %s' % self.log.text()
        return self

    def send_keys(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def finish(self, timeout=15):
        """Waits for the process to end (killing it after `timeout`); returns its exit code."""
        code = stop_process(self.process, None, timeout)
        self.process.stdin.close()
        self.stdout, self.stderr = self.out.text(), self.log.text()
        return code

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        return self.finish()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.root, ignore_errors=True)


def address(server):
    return '127.0.0.1:%d' % server.port


class Provider:
    """A pictora-provider process registered with `server` (then with `more_servers` in turn, as
    servers of one cluster), its log in the server's folder."""

    def __init__(self, server, name, load, extra=(), more_servers=()):
        command = [binary('pictora-provider'), '--name', name,
                   '--server', ','.join(address(s) for s in (server,) + tuple(more_servers)),
                   '--host', '127.0.0.1', '--load', str(load), '--update-ms', '300', '--reregister-delay-ms', '100:400']
        self.log = LogFile(os.path.join(server.root, 'provider-%s.txt' % name))
        with open(self.log.path, 'wb') as err:
            self.process = subprocess.Popen(command + list(extra), stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=err)
        self.port = int(self.log.wait_for(r'listening on port (\d+)').group(1))

    def wait_registered(self, count=1):
        assert wait_until(lambda: self.log.text().count("registered service 'Images/Thumbs'") >= count, 10), \
            self.log.text()
        return self

    def stop(self, sig=signal.SIGTERM):
        return stop_process(self.process, sig)


def cli(server, *words, pipe=None, servers=None):
    """pictora-cli against `server`: over TCP, or over its local channel `pipe`; `servers`: the
    --server list instead."""
    where = ['--pipe', pipe] if pipe else ['--server', servers or address(server)]
    return subprocess.run([binary('pictora-cli')] + where + list(words), capture_output=True, text=True,
                          timeout=30, env=server.env)
