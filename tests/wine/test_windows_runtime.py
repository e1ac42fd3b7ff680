"""The server against the Windows RPC runtime as Wine provides it: a client and a provider whose
stubs widl generated from idl/, calling and serving the real server. Every packet between them is
captured, and tshark must find nothing malformed in either interface's traffic."""
import os
import re
import socket
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'e2e'))
from server_process import ServerProcess, LogFile, binary, cli, free_port, scaled, stop_process, wait_until  # noqa: E402

SERVICE = 'Images/Thumbs'
SERVER_IF = '8a60fd6c-7ebf-4aee-839c-1df4243d03d2'
PROVIDER_IF = 'b9730071-b03f-42b3-b002-2c3996f28928'
# name: (load, length of the information text plus its NUL). 40000 fits the server's first buffer
# exactly; 150000 makes it ask a second time with the size returned.
PROVIDERS = {'WineSmall': (0.2, 40000), 'WineLarge': (0.7, 150000)}


@pytest.fixture(scope='module')
def wine():
    """The environment of one Wine prefix, made once (wineboot takes seconds)."""
    work = os.environ.get('PICTORA_WINE_WORK') or tempfile.mkdtemp(prefix='pictora-wine-')
    os.makedirs(work, exist_ok=True)  # Wine makes the prefix, not the folders above it
    env = dict(os.environ, WINEPREFIX=os.path.join(work, 'prefix'), WINEDEBUG='-all')
    if not os.path.exists(os.path.join(env['WINEPREFIX'], 'system.reg')):
        subprocess.run(['wineboot', '-i'], env=env, capture_output=True, timeout=scaled(300), check=True)
    yield env
    subprocess.run(['wineserver', '-k'], env=env, capture_output=True, timeout=60)


class Capture:
    """tshark writing every packet of the given TCP ports on loopback to a file."""

    def __init__(self, folder, ports):
        self.ports = ports
        self.path = os.path.join(folder, 'traffic.pcapng')
        self.log = LogFile(os.path.join(folder, 'tshark.txt'))
        with open(self.log.path, 'wb') as err:
            self.process = subprocess.Popen(
                ['tshark', '-i', 'lo', '-q', '-w', self.path, '-f', ' or '.join('tcp port %d' % p for p in ports)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.log.wait_for('Capturing on', 30)

    def read(self, *options):
        stop_process(self.process)
        decode = [a for p in self.ports for a in ('-d', 'tcp.port==%d,dcerpc' % p)]
        return subprocess.run(['tshark', '-r', self.path] + decode + list(options), capture_output=True, text=True,
                              timeout=120, check=True).stdout


@pytest.fixture(scope='module')
def setup(wine):
    """The servers and provider ports of this module, and the capture of their traffic."""
    client_server = ServerProcess()
    provider_server = ServerProcess(extra_env={'PICTORA_TEST_LIVENESS_SECONDS': '1'})
    provider_ports = {name: free_port() for name in PROVIDERS}
    capture = Capture(provider_server.root, [client_server.port, provider_server.port] + list(provider_ports.values()))
    yield client_server, provider_server, provider_ports, capture
    stop_process(capture.process)
    for server in (client_server, provider_server):
        server.close()


def run_wine(wine, program, *args, log):
    with open(log.path, 'wb') as out:
        return subprocess.Popen(['wine', binary(program + '.exe')] + [str(a) for a in args], env=wine,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)


def test_windows_client_calls_every_procedure(wine, setup):
    server = setup[0]
    server.write_services(SERVICE)
    server.start()
    log = LogFile(os.path.join(server.root, 'wine-client.txt'))
    client = run_wine(wine, 'wine_client', '127.0.0.1', server.port, 'stop', log=log)
    # The launcher may return before the program on a new prefix: its own last line decides.
    summary = wait_until(lambda: re.search(r'wine client: \d+ checks, (\d+) failed|^wine: .*', log.text(), re.M), 120)
    stop_process(client, None)
    assert summary and summary.group(1) == '0', log.text()
    assert server.finish() == 0 and 'Stop command was issued' in server.stdout


def provider_calls(log, number):
    return [line for line in log.text().splitlines() if line.startswith('call %d ' % number)]


def test_windows_provider_is_called_and_kept(wine, setup):
    _, server, ports, _ = setup
    server.write_services(SERVICE)
    server.start()
    logs = {name: LogFile(os.path.join(server.root, name + '.txt')) for name in PROVIDERS}
    processes = [run_wine(wine, 'wine_provider', name, '127.0.0.1', server.port, ports[name], load, info,
                          SERVICE, log=logs[name]) for name, (load, info) in PROVIDERS.items()]
    try:
        for name, log in logs.items():
            log.wait_for('registered ' + name, 120)
            admin = cli(server, 'admin', 'provider', 'create', name, '--port', str(ports[name]),
                        '--machine', socket.gethostname())
            assert admin.returncode == 0, admin.stderr

        # Load queries: the least loaded first.
        lookup = cli(server, 'providers-for', SERVICE)
        assert lookup.returncode == 0 and lookup.stdout.index('WineSmall') < lookup.stdout.index('WineLarge')
        assert all(provider_calls(log, 19) for log in logs.values())

        # Information: 40000 bytes in the first buffer; a larger text asked again with its size.
        report = cli(server, 'admin', 'info', '--xml')
        assert report.returncode == 0, report.stderr
        for name, (_, info) in PROVIDERS.items():
            sizes = [int(re.search(r'size=(\d+)', line).group(1)) for line in provider_calls(logs[name], 15)]
            # The client tool asks for the report twice (its size, then the text): one exchange each.
            exchange = [40000] if info <= 40000 else [40000, info + 1]
            assert sizes and sizes == exchange * (len(sizes) // len(exchange)), logs[name].text()
            filler = re.search(r'<Name>%s</Name><Filler>(f*)</Filler>' % name, report.stdout)
            assert filler and len(filler.group(1)) == info - 1 - len(
                '<ServiceProvider><Basic><Name>%s</Name><Filler></Filler></Basic><Services><Service><Name>%s'
                '</Name><Requests>7</Requests></Service></Services></ServiceProvider>' % (name, SERVICE))
        assert report.stdout.count('<Requests>7</Requests>') == 2

        # Service administration and a provider configuration replaced.
        for words in (('service', 'start', SERVICE), ('service', 'stop', SERVICE), ('service', 'refresh', SERVICE),
                      ('service', 'refresh-all'), ('provider', 'config', 'WineSmall', 'set', '-')):
            done = subprocess.run([binary('pictora-cli'), '--server', '127.0.0.1:%d' % server.port, 'admin'] +
                                  list(words), input='<Config><NumCPU>8</NumCPU></Config>', capture_output=True,
                                  text=True, timeout=30)
            assert done.returncode == 0, (words, done.stderr)
        expected = {23: 'start caller=Pictora source=src name=%s properties= placeholder=1' % SERVICE,
                    24: 'stop caller=Pictora name=%s placeholder=1' % SERVICE,
                    17: 'refresh service=<Pictora><Service><Name>%s</Name><Source>src</Source></Service></Pictora> '
                        'placeholder=1' % SERVICE,
                    25: 'refresh-all caller=Pictora placeholder=1'}
        for name, log in logs.items():
            for number, text in expected.items():
                assert provider_calls(log, number) == ['call %d %s' % (number, text)], log.text()
        assert provider_calls(logs['WineSmall'], 26) == ['call 26 refresh-configuration caller=Pictora placeholder=1']
        assert not provider_calls(logs['WineLarge'], 26)

        # Several liveness passes later both are still registered.
        for log in logs.values():
            pings = len(provider_calls(log, 0))
            assert wait_until(lambda: len(provider_calls(log, 0)) >= pings + 3, 20), log.text()
        listed = cli(server, 'providers')
        assert all(name in listed.stdout for name in PROVIDERS), listed.stdout
        assert 'Removed' not in server.log.text()
    finally:
        for process in processes:
            stop_process(process, timeout=5)
        server.stop()


def test_capture_of_both_interfaces_is_well_formed(setup):
    capture = setup[3]
    binds = capture.read('-Y', 'dcerpc.cn_bind_to_uuid', '-T', 'fields', '-e', 'dcerpc.cn_bind_to_uuid')
    assert SERVER_IF in binds and PROVIDER_IF in binds
    assert capture.read('-Y', '_ws.malformed || _ws.expert.severity >= "error"') == ''
