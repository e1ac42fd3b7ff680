"""Real processes for the provider tests: the server in a temporary home, pictora-provider
processes, pictora-cli, and a provider written in Python on impacket's NDR types.

Binaries come from PICTORA_SERVER_BIN, PICTORA_PROVIDER_BIN and PICTORA_CLI_BIN, or from
PICTORA_BIN_DIR, or from the first build folder that holds them.
"""
import glob
import os
import re
import signal
import socket
import struct
import subprocess
import threading
import time

from impacket.uuid import uuidtup_to_bin

import pictora_wire as w
from timing import scaled

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))

SERVICES_FILE = '''<?xml version="1.0" standalone="yes"?>
<Pictora><Server><Services>
%s</Services></Server></Pictora>
'''
SERVICE = ('<Service><Name>%s</Name><Source>src</Source><State>On</State><Properties></Properties>'
           '<ServiceProviders>%s</ServiceProviders></Service>\n')
CONFIG_FILE = ('<?xml version="1.0" standalone="yes"?>\n<Pictora><Server><Config><Endpoint>%d</Endpoint>'
               '<CreateLogs>true</CreateLogs><LogsFolder></LogsFolder>'
               '<ActivateAuthentication>False</ActivateAuthentication>%s'
               '<LicenseManager><ServerManagerAllowList></ServerManagerAllowList></LicenseManager>'
               '</Config></Server></Pictora>')


def binary(name, variable):
    if os.environ.get(variable):
        return os.environ[variable]
    if os.environ.get('PICTORA_BIN_DIR'):
        return os.path.join(os.environ['PICTORA_BIN_DIR'], name)
    found = sorted(glob.glob(os.path.join(ROOT, 'build', '*', 'bin', name)), key=os.path.getmtime)
    if not found:
        raise RuntimeError('%s not built (set %s)' % (name, variable))
    return found[-1]


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + scaled(timeout)
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError('timed out waiting for ' + what)


class LogReader:
    """Collects a process's stderr lines on a thread, so waits can look for a line."""

    def __init__(self, stream):
        self.lines = []
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b''):
            with self._lock:
                self.lines.append(raw.decode('utf-8', 'replace').rstrip('\n'))

    def text(self):
        with self._lock:
            return '\n'.join(self.lines)

    def wait_for(self, pattern, timeout=10):
        return wait_for(lambda: re.search(pattern, self.text()), timeout, repr(pattern))


class Server:
    """pictora-server -console "" PORT with its home under `folder`."""

    def __init__(self, folder, services=('Images/Thumbs',), extra_config='', liveness_seconds=None,
                 port=None):
        self.folder = folder
        self.port = port or free_port()
        self.server_dir = os.path.join(folder, 'appdata', 'Korvane', 'Pictora', 'Server')
        for sub in ('docs', 'pipe'):
            os.makedirs(os.path.join(folder, sub), exist_ok=True)
        os.makedirs(self.server_dir, exist_ok=True)
        with open(os.path.join(folder, 'pictora.conf'), 'w') as f:
            f.write('Version=1.0.0.0\nHome=%s\n' % folder)
        with open(os.path.join(self.server_dir, 'Pictora.Services'), 'w') as f:
            # A service is a name (meant for every provider) or (name, "Provider1;Provider2").
            f.write(SERVICES_FILE % ''.join(SERVICE % ((s, '') if isinstance(s, str) else s) for s in services))
        with open(os.path.join(self.server_dir, 'Pictora.PTSConfig'), 'w') as f:
            f.write(CONFIG_FILE % (self.port, extra_config))
        self.env = dict(os.environ, PICTORA_COMMON_APPDATA=os.path.join(folder, 'appdata'),
                        PICTORA_REGISTRY_FILE=os.path.join(folder, 'pictora.conf'),
                        PICTORA_PIPE_DIR=os.path.join(folder, 'pipe'),
                        PICTORA_DOCUMENTS=os.path.join(folder, 'docs'))
        if liveness_seconds is not None:
            self.env['PICTORA_TEST_LIVENESS_SECONDS'] = str(liveness_seconds)
        self.process = None
        self.log = None

    def start(self, ready='Server listening at endpoint'):
        self.process = subprocess.Popen([binary('pictora-server', 'PICTORA_SERVER_BIN'), '-console', '', str(self.port)],
                                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, env=self.env)
        self.log = LogReader(self.process.stderr)
        self.log.wait_for(ready)
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def address(self):
        return '127.0.0.1:%d' % self.port


class Provider:
    """A pictora-provider process registered with `server`."""

    def __init__(self, server, name, load=None, extra=()):
        self.name = name
        command = [binary('pictora-provider', 'PICTORA_PROVIDER_BIN'), '--name', name, '--server', server.address(),
                   '--host', '127.0.0.1', '--update-ms', '300', '--reregister-delay-ms', '100:400']
        if load is not None:
            command += ['--load', str(load)]
        self.process = subprocess.Popen(command + list(extra), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        self.log = LogReader(self.process.stderr)
        self.port = int(self.log.wait_for(r'listening on port (\d+)').group(1))

    def wait_registered(self, count=1):
        wait_for(lambda: self.log.text().count("registered service 'Images/Thumbs'") >= count, 10,
                 '%s to register (%d)' % (self.name, count))
        return self

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                return self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                return self.process.wait()
        return self.process.returncode


def cli(server, *words, timeout=30, pipe=None):
    """pictora-cli against `server`: over TCP, or over its local channel `pipe`."""
    where = ['--pipe', pipe] if pipe else ['--server', server.address()]
    return subprocess.run([binary('pictora-cli', 'PICTORA_CLI_BIN')] + where + list(words),
                          capture_output=True, text=True, timeout=timeout, env=server.env)


# ---- the server's interface through impacket ---------------------------------------------------

class WireClient:
    def __init__(self, server, application='PictoraTest', session=True):
        self.dce = w.connect_tcp(server.port, w.SERVER_IF, timeout=30)
        if not session:
            return
        request = w.OpenSession()
        request['Info'] = w.z('<SessionInfo><Application>%s</Application><MachineName>test</MachineName>'
                              '<UserName>tester</UserName></SessionInfo>' % application)
        request['SessionId'] = w.z(' ' * 36)
        request['ErrText'] = w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        assert answer['Result'] == 1, answer['ErrText']
        self.session = w.unz(answer['SessionId'])

    def name_data(self, request_class, name, data):
        request = request_class()
        request['Session'] = w.z(self.session)
        request['Name'] = w.z(name)
        payload = data.encode() + b'\x00'
        request['Length'] = len(payload)
        request['Data'] = payload
        request['ErrText'] = w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        return answer['Result'], w.unz(answer['ErrText']).strip()

    def providers_for(self, service):
        request = w.GetServiceProvidersFor()
        request['Session'] = w.z(self.session)
        request['Name'] = w.z(service)
        request['Size'] = 200000
        request['ErrText'] = w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        assert answer['Result'] == 0, answer['Result']
        return w.buffer_text(answer)

    def services_for_provider(self, name):
        """Procedure 46: needs neither a session nor the registry lock."""
        request = w.GetServicesForServiceProvider()
        request['Session'] = w.z('')
        request['Name'] = w.z(name)
        request['Size'] = 200000
        request['ErrText'] = w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        assert answer['Result'] == 0, answer['Result']
        return w.buffer_text(answer)

    def version(self):
        request = w.GetVersion()
        request['Version'] = w.z(' ' * 64)
        return w.unz(self.dce.request(request, checkError=False)['Version']).strip()

    def close(self):
        self.dce.disconnect()


def endpoints_in_order(answer):
    return [int(port) for port in re.findall(r'<Endpoint>(\d+)</Endpoint>', answer)]


def expected_answer(providers):
    """The providers-for document for (name, host, endpoint) triples, as the server must write it."""
    text = '<Pictora><Server><ServiceProviders>'
    for name, host, endpoint in providers:
        text += ('\n<ServiceProvider><Config>\n\t<Name>%s</Name>\n<HostMachine>%s</HostMachine>\n'
                 '<Endpoint>%s</Endpoint>\n\n</Config></ServiceProvider>' % (name, host, endpoint))
    return text + '\n</ServiceProviders></Server></Pictora>'


# ---- a provider written on impacket's NDR types -----------------------------------------------

NDR20 = uuidtup_to_bin(('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0'))
PFC_FIRST, PFC_LAST = 0x01, 0x02


def _header(ptype, flags, length, call_id):
    return struct.pack('<BBBB4sHHI', 5, 0, ptype, flags, b'\x10\x00\x00\x00', length, 0, call_id)


def _recv_exact(sock, count):
    data = b''
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError('peer closed')
        data += chunk
    return data


class PyProvider:
    """The provider interface served by raw PDUs and impacket NDRCALL stubs (not our runtime).

    ping_fault: answer the ping with a fault of this status (e.g. 5, access denied).
    silent: accept connections and requests, never answer.
    """

    def __init__(self, load=0.5, ping_fault=None, silent=False, info_text=None):
        self.load = load
        self.ping_fault = ping_fault
        self.silent = silent
        self.info_text = info_text
        self.calls = []
        self._stop = threading.Event()
        self._listener = socket.socket()
        self._listener.bind(('127.0.0.1', 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def close(self):
        self._stop.set()
        self._listener.close()

    def register(self, server, name, services=('Images/Thumbs',)):
        client = WireClient(server, 'PictoraProvider')
        xml = ('<ServiceProvider><Config><Name>%s</Name><HostMachine>127.0.0.1</HostMachine>'
               '<Endpoint>%d</Endpoint></Config><Dynamic><Load>%s</Load></Dynamic></ServiceProvider>'
               % (name, self.port, self.load))
        assert client.name_data(w.AddServiceProvider, name, xml)[0] == 1
        services_xml = '<Pictora><ImageServices>%s</ImageServices></Pictora>' % ''.join(
            '<Service><Name>%s</Name></Service>' % s for s in services)
        assert client.name_data(w.AddServices, name, services_xml)[0] == 1
        return client

    def _accept(self):
        while not self._stop.is_set():
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, sock):
        with sock:
            try:
                self._conversation(sock)
            except (ConnectionError, OSError):
                pass

    def _conversation(self, sock):
        fragment, stub = 4280, b''
        while True:
            head = _recv_exact(sock, 16)
            pdu = head + _recv_exact(sock, struct.unpack('<H', head[8:10])[0] - 16)
            ptype, flags, call_id = pdu[2], pdu[3], struct.unpack('<I', pdu[12:16])[0]
            if ptype == 11:  # bind
                fragment = self._bind(sock, pdu, call_id)
                continue
            if ptype != 0:
                return
            stub += pdu[24:]
            if not flags & PFC_LAST:
                continue
            opnum = struct.unpack('<H', pdu[22:24])[0]
            self.calls.append(opnum)
            if self.silent:
                self._stop.wait(60)
                return
            if opnum == 0 and self.ping_fault is not None:
                sock.sendall(_header(3, PFC_FIRST | PFC_LAST, 32, call_id) +
                             struct.pack('<IHBBII', 32, 0, 0, 0, self.ping_fault, 0))
            else:
                self._respond(sock, call_id, self._dispatch(opnum, stub), fragment)
            stub = b''

    def _bind(self, sock, pdu, call_id):
        max_xmit, max_recv = struct.unpack('<HH', pdu[16:20])
        accepted = pdu[32:52] == uuidtup_to_bin(w.PROVIDER_IF)
        fragment = max(2048, min(max_xmit, max_recv, 5840)) & 0xFFF8
        result = struct.pack('<HH', 0, 0) + NDR20 if accepted else struct.pack('<HH', 2, 1) + b'\x00' * 20
        port = b'%d\x00' % self.port
        body = struct.pack('<HHIH', fragment, fragment, 0x4321, len(port)) + port
        body += b'\x00' * ((4 - (26 + len(port)) % 4) % 4)
        body += struct.pack('<BBH', 1, 0, 0) + result
        sock.sendall(_header(12, PFC_FIRST | PFC_LAST, 16 + len(body), call_id) + body)
        return fragment

    def _dispatch(self, opnum, stub):
        if opnum == 0:
            answer = w.ProviderPingResponse()
            answer['Result'] = 1
        elif opnum == 19:
            answer = w.ProviderGetLoadResponse()
            answer['Load'] = self.load
        elif opnum == 15:
            request = w.ProviderGetInfo(stub)
            text = (self.info_text or '<Pictora><Basic/><Services/></Pictora>').encode() + b'\x00'
            answer = w.ProviderGetInfoResponse()
            size = request['Size']
            answer['Buffer'] = text.ljust(size, b'\x00') if size >= len(text) else b'\x00' * size
            answer['ErrText'] = request['ErrText']
            answer['Result'] = 0 if size >= len(text) else len(text)
        else:
            return b'\x01'
        return answer.getData()

    def _respond(self, sock, call_id, stub, fragment):
        chunk = (fragment - 24) // 8 * 8
        offset = 0
        while True:
            piece = stub[offset:offset + chunk]
            flags = (PFC_FIRST if offset == 0 else 0) | (PFC_LAST if offset + len(piece) >= len(stub) else 0)
            body = struct.pack('<IHBB', len(stub) - offset, 0, 0, 0) + piece
            sock.sendall(_header(2, flags, 16 + len(body), call_id) + body)
            offset += len(piece)
            if flags & PFC_LAST:
                return
