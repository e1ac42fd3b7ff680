"""Runs the real pictora-server as a child process in a throw-away installation.

Every run gets its own temporary home (PICTORA_COMMON_APPDATA), installation key, pipe folder
and documents folder, and a free loopback port, so runs never touch /var/lib, /etc or a fixed
port and can run side by side.
"""
import glob
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from timing import scaled

SERVER_BIN_VAR = 'PICTORA_SERVER_BIN'
PIPE_NAME = 'KorvanePictora'


def binary(name, variable=SERVER_BIN_VAR):
    """$variable, else $PICTORA_BIN_DIR/name, else the newest build's."""
    if os.environ.get(variable):
        return os.path.abspath(os.environ[variable])
    if os.environ.get('PICTORA_BIN_DIR'):
        return os.path.join(os.environ['PICTORA_BIN_DIR'], name)
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
    found = sorted(glob.glob(os.path.join(root, 'build', '*', 'bin', name)), key=os.path.getmtime)
    if not found:
        raise RuntimeError('%s not built (set %s)' % (name, variable))
    return os.path.abspath(found[-1])


def server_binary():
    return binary('pictora-server')


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, step=0.05):
    deadline = time.monotonic() + scaled(timeout)
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def port_open(port):
    try:
        with socket.create_connection(('127.0.0.1', port), timeout=0.5):
            return True
    except OSError:
        return False


class ServerProcess:
    """One server process. Use as a context manager; the folder is removed afterwards."""

    def __init__(self, extra_env=None):
        self.root = tempfile.mkdtemp(prefix='pictora-e2e-')
        self.port = free_port()
        self.appdata = os.path.join(self.root, 'appdata')
        self.pipe_dir = os.path.join(self.root, 'pipe')
        for folder in (self.appdata, self.pipe_dir, os.path.join(self.root, 'docs')):
            os.makedirs(folder)
        self.registry = os.path.join(self.root, 'pictora.conf')
        with open(self.registry, 'w') as f:
            f.write('Version=1.0.0.0\n')
        self.env = dict(os.environ)
        self.env.update({
            'PICTORA_COMMON_APPDATA': self.appdata,
            'PICTORA_REGISTRY_FILE': self.registry,
            'PICTORA_PIPE_DIR': self.pipe_dir,
            'PICTORA_DOCUMENTS': os.path.join(self.root, 'docs'),
        })
        self.env.pop('NOTIFY_SOCKET', None)
        self.env.update(extra_env or {})
        self.process = None
        self.stdout = ''
        self.stderr = ''

    # ---- the installation -------------------------------------------------------------------

    @property
    def server_folder(self):
        return os.path.join(self.appdata, 'Korvane', 'Pictora', 'Server')

    @property
    def pipe_path(self):
        return os.path.join(self.pipe_dir, PIPE_NAME)

    def write_server_file(self, name, text):
        os.makedirs(self.server_folder, exist_ok=True)
        with open(os.path.join(self.server_folder, name), 'w') as f:
            f.write(text)

    def write_services(self, service_elements):
        self.write_server_file(
            'Pictora.Services',
            '<?xml version="1.0" standalone="yes"?>\n<Pictora><Server><Services>\n' +
            service_elements + '</Services></Server></Pictora>\n')

    def write_configuration(self, config_children):
        self.write_server_file(
            'Pictora.PTSConfig',
            '<?xml version="1.0" standalone="yes"?><Pictora><Server><Config>' +
            config_children + '</Config></Server></Pictora>')

    # ---- the process --------------------------------------------------------------------------

    def start(self, args=None, endpoint=True, wait_listening=True):
        if args is None:
            args = ['-console', '', str(self.port)] if endpoint else ['-console']
        # Files, not pipes: a chatty server must never block on output nobody reads yet.
        self._out = open(os.path.join(self.root, 'stdout.txt'), 'w+b')
        self._err = open(os.path.join(self.root, 'stderr.txt'), 'w+b')
        self.process = subprocess.Popen(
            [server_binary()] + args, env=self.env, stdin=subprocess.PIPE,
            stdout=self._out, stderr=self._err)
        if wait_listening:
            ok = wait_until(lambda: self.process.poll() is not None or port_open(self.port), 15)
            assert ok and self.process.poll() is None, 'server did not start: %s' % (
                self.finish(timeout=5),)
        return self

    def start_on_pipe(self):
        """Starts with ActivateAuthentication on: the server listens only on the named channel."""
        self.write_configuration('<Endpoint>%d</Endpoint><ActivateAuthentication>true'
                                 '</ActivateAuthentication>' % self.port)
        self.start(args=['-console'], wait_listening=False)
        ok = wait_until(lambda: self.process.poll() is not None or os.path.exists(self.pipe_path), 15)
        assert ok and self.process.poll() is None, 'server did not start: %s' % (
            self.finish(timeout=5),)
        return self

    def send_keys(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def signal(self, number=signal.SIGTERM):
        self.process.send_signal(number)

    def finish(self, timeout=15):
        """Waits for the process to end (killing it after `timeout`); returns its exit code."""
        try:
            self.process.wait(timeout=scaled(timeout))
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        try:
            self.process.stdin.close()
        except OSError:
            pass
        self.stdout = self.read_output(self._out)
        self.stderr = self.read_output(self._err)
        return self.process.returncode

    @staticmethod
    def read_output(f):
        f.flush()
        f.seek(0)
        return f.read().decode('latin-1')

    def stderr_so_far(self):
        return self.read_output(self._err)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.finish()
        for f in (getattr(self, '_out', None), getattr(self, '_err', None)):
            if f is not None:
                f.close()
        shutil.rmtree(self.root, ignore_errors=True)
        return False
