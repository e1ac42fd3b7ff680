"""Real processes for the provider tests: the server in a temporary home, pictora-provider
processes, pictora-cli, and a provider written in Python on impacket's NDR types.

Binaries come from PICTORA_SERVER_BIN, PICTORA_PROVIDER_BIN and PICTORA_CLI_BIN, or from
PICTORA_BIN_DIR, or from the first build folder that holds them.
"""
import os
import re
import signal
import struct
import subprocess
import sys
import threading
import time

from impacket.uuid import uuidtup_to_bin

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))

import pictora_wire as w  # noqa: E402
from raw_rpc import RawPduServer, bind_ack, fault, send_response  # noqa: E402
from server_process import binary, free_port  # noqa: E402
from timing import scaled  # noqa: E402


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
        request['SessionId'], request['ErrText'] = w.z(' ' * 36), w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        assert answer['Result'] == 1, answer['ErrText']
        self.session = w.unz(answer['SessionId'])

    def name_data(self, request_class, name, data):
        request = request_class()
        payload = data.encode() + b'\x00'
        request['Session'], request['Name'], request['Length'] = w.z(self.session), w.z(name), len(payload)
        request['Data'], request['ErrText'] = payload, w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        return answer['Result'], w.unz(answer['ErrText']).strip()

    def _buffer_text(self, request_class, session, name):
        request = request_class()
        request['Session'], request['Name'], request['Size'] = w.z(session), w.z(name), 200000
        request['ErrText'] = w.z(' ' * 4000)
        answer = self.dce.request(request, checkError=False)
        assert answer['Result'] == 0, answer['Result']
        return w.buffer_text(answer)

    def providers_for(self, service):
        return self._buffer_text(w.GetServiceProvidersFor, self.session, service)

    def services_for_provider(self, name):
        """Procedure 46: needs neither a session nor the registry lock."""
        return self._buffer_text(w.GetServicesForServiceProvider, '', name)

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

class PyProvider(RawPduServer):
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
        self.commands = []  # (procedure name, request) of every start, stop and refresh received
        super().__init__(backlog=16)

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

    def on_request(self, sock, call_id, opnum, stub, fragment):
        self.calls.append(opnum)
        if self.silent:
            self._stop.wait(60)
            return False
        if opnum == 0 and self.ping_fault is not None:
            sock.sendall(fault(call_id, self.ping_fault))
        else:
            send_response(sock, call_id, self._dispatch(opnum, stub), fragment, align=8)
        return True

    def on_bind(self, sock, pdu, call_id):
        max_xmit, max_recv = struct.unpack('<HH', pdu[16:20])
        accepted = pdu[32:52] == uuidtup_to_bin(w.PROVIDER_IF)
        fragment = max(2048, min(max_xmit, max_recv, 5840)) & 0xFFF8
        sock.sendall(bind_ack(call_id, fragment, 0x4321, b'%d\x00' % self.port, accepted))
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
        elif opnum in self.COMMANDS:
            request = getattr(w, self.COMMANDS[opnum])(stub)
            self.commands.append((self.COMMANDS[opnum], request))
            answer = getattr(w, self.COMMANDS[opnum] + 'Response')()
            answer['ErrText'], answer['Result'] = request['ErrText'], 1
        else:
            return b'\x01'
        return answer.getData()

    COMMANDS = {17: 'ProviderRefreshService', 23: 'ProviderStartService', 24: 'ProviderStopService',
                25: 'ProviderRefreshAllServices', 26: 'ProviderRefreshConfiguration'}

    def commanded(self, name):
        """The requests of that procedure received so far."""
        return [request for command, request in self.commands if command == name]
