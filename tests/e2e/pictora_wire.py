"""The wire contract of the server and provider interfaces, written with impacket's NDR types,
and a provider served by raw PDUs on those types.

Every stub here is built or read by impacket from this table, never by our own marshalling code,
so the tests that use it judge the server's wire format by code we did not write for the product.
"""
import os
import re
import struct
import sys

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.dtypes import STR
from impacket.dcerpc.v5.ndr import NDRCALL, NDRDOUBLEFLOAT, NDRLONG, NDRSMALL
from impacket.uuid import uuidtup_to_bin

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))

from raw_rpc import CharBuf, RawPduServer, UnixSocketTransport, bind_ack, fault, send_response, unz, z  # noqa: E402

SERVER_IF = ('8a60fd6c-7ebf-4aee-839c-1df4243d03d2', '1.0')
PROVIDER_IF = ('b9730071-b03f-42b3-b002-2c3996f28928', '1.0')

# ---- the procedures: (name, opnum, request fields, response fields) ---------------------------
# impacket finds a request's answer type as <name>Response in this module, so both classes of
# every row are defined here.

_TEXT = (('Text', STR),)
_SMALL = (('Result', NDRSMALL),)
_ERR_SMALL = (('ErrText', STR), ('Result', NDRSMALL))
_NAME_DATA = (('Session', STR), ('Name', STR), ('Length', NDRLONG), ('Data', CharBuf), ('ErrText', STR))
_NAME_BUFFER = (('Session', STR), ('Name', STR), ('Size', NDRLONG), ('ErrText', STR))
_SESSION_BUFFER = (('Session', STR), ('Size', NDRLONG), ('ErrText', STR))
_BUFFER = (('Buffer', CharBuf), ('ErrText', STR), ('Result', NDRLONG))
_CALLER_ERR = (('Caller', STR), ('ErrText', STR))
# The management procedures name their last in/out text Status.
_STATUS_SMALL = (('Status', STR), ('Result', NDRSMALL))
_SESSION_STATUS = (('Session', STR), ('Status', STR))
_SESSION_TEXT_STATUS = (('Session', STR), ('Text', STR), ('Status', STR))
_SESSION_SIZE_STATUS = (('Session', STR), ('Size', NDRLONG), ('Status', STR))
_BUFFER_STATUS = (('Buffer', CharBuf), ('Status', STR), ('Result', NDRLONG))

PROCEDURES = (
    ('GetVersion', 0, (('Version', STR),), (('Version', STR), ('Result', NDRSMALL))),
    ('Reserved1', 1, _TEXT, _SMALL),
    ('Reserved2', 2, (('Text', STR), ('In', CharBuf), ('InLength', NDRLONG), ('OutLength', NDRLONG)),
     (('Out', CharBuf), ('OutLength', NDRLONG), ('Result', NDRSMALL))),
    ('Reserved3', 3, _TEXT, _SMALL),
    ('OpenSession', 4, (('Info', STR), ('SessionId', STR), ('ErrText', STR)),
     (('SessionId', STR), ('ErrText', STR), ('Result', NDRSMALL))),
    ('CloseSession', 8, _TEXT, _SMALL),
    ('GetSession', 9, _TEXT, _SMALL),
    ('NotifySession', 10, (('Session', STR), ('Flag', NDRSMALL), ('Text', STR), ('ErrText', STR)), _ERR_SMALL),
    ('AddServiceProvider', 11, _NAME_DATA, _ERR_SMALL),
    ('RemoveServiceProvider', 12, (('Session', STR), ('Name', STR), ('ErrText', STR)), _ERR_SMALL),
    ('GetServiceProvidersFor', 13, _NAME_BUFFER, _BUFFER),
    ('GetServiceProviderInfo', 14, _NAME_BUFFER, _BUFFER),
    ('UpdateServiceProviderInfo', 15, _NAME_DATA, _ERR_SMALL),
    ('AddServices', 16, _NAME_DATA, _ERR_SMALL),
    ('RemoveServices', 17, _NAME_DATA, _ERR_SMALL),
    ('GetInfo', 18, _NAME_BUFFER, _BUFFER),
    ('GetServiceProviders', 19, _SESSION_BUFFER, _BUFFER),
    ('Reserved20', 20, _SESSION_BUFFER, _BUFFER),
    ('GetServices', 21, _NAME_BUFFER, _BUFFER),
    ('Reserved22', 22, _NAME_BUFFER, _BUFFER),
    ('Reserved23', 23, _NAME_BUFFER, _BUFFER),
    ('SetStopFlag', 24, (('Text1', STR), ('Text2', STR)), _SMALL),
    ('ManagerOpenSession', 25, (('Info', STR), ('SessionId', STR), ('Status', STR)),
     (('SessionId', STR), ('Status', STR), ('Result', NDRSMALL))),
    ('ManagerCloseSession', 26, _SESSION_STATUS, _STATUS_SMALL),
    ('GetServerInfo', 27, _SESSION_SIZE_STATUS, _BUFFER_STATUS),
    ('CreateServiceProvider', 28, (('Session', STR), ('Machine', STR), ('Endpoint', STR), ('Name', STR),
                                   ('Status', STR)), _STATUS_SMALL),
    ('DeleteServiceProvider', 29, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('StartServiceProvider', 30, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('StopServiceProvider', 31, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('GetServerConfigXml', 32, _SESSION_SIZE_STATUS, _BUFFER_STATUS),
    ('UpdateServerConfigXml', 33, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('GetServiceProviderConfigXml', 34, (('Session', STR), ('Text', STR), ('Size', NDRLONG), ('Status', STR)),
     _BUFFER_STATUS),
    ('UpdateServiceProviderConfigXml', 35, (('Session', STR), ('Text', STR), ('Xml', STR), ('Status', STR)),
     _STATUS_SMALL),
    ('GetServiceProvidersInfo', 36, _SESSION_SIZE_STATUS, _BUFFER_STATUS),
    ('GetServicesXml', 37, _SESSION_SIZE_STATUS, _BUFFER_STATUS),
    ('UpdateServicesXml', 38, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('ManagerAddService', 39, (('Session', STR), ('Source', STR), ('Name', STR), ('Properties', STR),
                               ('Providers', STR), ('Status', STR)), _STATUS_SMALL),
    ('ManagerRemoveService', 40, (('Session', STR), ('Text', STR), ('Providers', STR), ('Status', STR)),
     _STATUS_SMALL),
    ('StartService', 41, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('StopService', 42, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('GetServiceName', 43, (('Session', STR), ('Text', STR), ('Name', STR), ('Status', STR)),
     (('Name', STR), ('Status', STR), ('Result', NDRSMALL))),
    ('RefreshService', 44, _SESSION_TEXT_STATUS, _STATUS_SMALL),
    ('RefreshAllServices', 45, _SESSION_STATUS, _STATUS_SMALL),
    ('GetServicesForServiceProvider', 46, _NAME_BUFFER, _BUFFER),
    ('GetServiceProviderConfiguration', 47, _NAME_BUFFER, _BUFFER),
    # The provider interface: the procedures the server calls.
    ('ProviderPing', 0, (), _SMALL),
    ('ProviderGetInfo', 15, (('Level', STR), ('Size', NDRLONG), ('ErrText', STR)), _BUFFER),
    ('ProviderRefreshService', 17, (('Xml', STR), ('ErrText', STR)), _ERR_SMALL),
    ('ProviderGetLoad', 19, (('Load', NDRDOUBLEFLOAT),), (('Load', NDRDOUBLEFLOAT),)),
    ('ProviderStartService', 23, (('Caller', STR), ('Source', STR), ('Name', STR), ('Properties', STR),
                                  ('ErrText', STR)), _ERR_SMALL),
    ('ProviderStopService', 24, (('Caller', STR), ('Name', STR), ('ErrText', STR)), _ERR_SMALL),
    ('ProviderRefreshAllServices', 25, _CALLER_ERR, _ERR_SMALL),
    ('ProviderRefreshConfiguration', 26, _CALLER_ERR, _ERR_SMALL),
)

for _name, _opnum, _request, _response in PROCEDURES:
    globals()[_name] = type(_name, (NDRCALL,), {'opnum': _opnum, 'structure': _request, '__module__': __name__})
    globals()[_name + 'Response'] = type(_name + 'Response', (NDRCALL,), {'structure': _response,
                                                                          '__module__': __name__})

# ---- calls ----------------------------------------------------------------------------------

ERR = 'E' * 4000  # callers send room for the longest error text


def connect(where, timeout=10):
    """A connection bound to the server interface: over TCP to a port, or over the named
    channel's socket at a path."""
    if isinstance(where, str):
        trans = UnixSocketTransport(where, timeout)
    else:
        trans = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % where)
        trans.set_connect_timeout(timeout)
    dce = trans.get_dce_rpc()
    dce.connect()
    dce.get_rpc_transport().get_socket().settimeout(timeout)
    dce.bind(uuidtup_to_bin(SERVER_IF))
    return dce


def call(dce, cls, **fields):
    """One request; a str field goes as a [string] char* (NUL added), anything else as it is."""
    request = cls()
    for name, value in fields.items():
        request[name] = z(value) if isinstance(value, str) else value
    return dce.request(request, checkError=False)


def text(response, field='ErrText'):
    return unz(response[field])


def buffer_text(response):
    return b''.join(response['Buffer']).split(b'\x00', 1)[0].decode('latin-1')


def version(dce):
    return text(call(dce, GetVersion, Version='x' * 20), 'Version')


def open_session(dce, info='<SessionInfo><Application>Viewer</Application></SessionInfo>', placeholder='x' * 36,
                 err=ERR):
    return call(dce, OpenSession, Info=info, SessionId=placeholder, ErrText=err)


def session(dce, **kwargs):
    response = open_session(dce, **kwargs)
    assert response['Result'] == 1, text(response)
    return text(response, 'SessionId')


def name_data(dce, cls, sid, name, data, err=ERR, nul=True):
    """Procedures 11, 15, 16, 17: a name and a char array, its length sent beside it."""
    payload = data.encode('latin-1') + (b'\x00' if nul else b'')
    return call(dce, cls, Session=sid, Name=name, Length=len(payload), Data=payload, ErrText=err)


def provider_xml(endpoint, load=0, name=''):
    name = name and '<Name>%s</Name>' % name
    return ('<ServiceProvider><Config>%s<HostMachine>127.0.0.1</HostMachine><Endpoint>%s</Endpoint></Config>'
            '<Dynamic><Load>%s</Load></Dynamic></ServiceProvider>' % (name, endpoint, load))


def services_xml(*names):
    return '<Pictora><ImageServices>%s</ImageServices></Pictora>' % ''.join(
        '<Service><Name>%s</Name></Service>' % n for n in names)


def register(server_port, name, endpoint, services=('Images/Thumbs',), load=0):
    """Registers provider `name` at 127.0.0.1:endpoint running `services`, as a provider does."""
    dce = connect(server_port)
    sid = session(dce, info='<SessionInfo><Application>PictoraProvider</Application></SessionInfo>')
    assert name_data(dce, AddServiceProvider, sid, name, provider_xml(endpoint, load, name))['Result'] == 1
    assert name_data(dce, AddServices, sid, name, services_xml(*services))['Result'] == 1
    dce.disconnect()


def lookup(dce, sid, service):
    """Procedure 13 with room for any answer."""
    response = call(dce, GetServiceProvidersFor, Session=sid, Name=service, Size=200000, ErrText='e')
    assert response['Result'] == 0, response['Result']
    return buffer_text(response)


def providers_for(server_port, service='Images/Thumbs'):
    """The lookup on a fresh connection and session."""
    dce = connect(server_port, timeout=30)
    try:
        return lookup(dce, session(dce), service)
    finally:
        dce.disconnect()


def endpoints_in_order(answer):
    return [int(port) for port in re.findall(r'<Endpoint>(\d+)</Endpoint>', answer)]


# ---- a provider written on impacket's NDR types -----------------------------------------------

class PyProvider(RawPduServer):
    """The provider interface served by raw PDUs and impacket stubs (not our runtime). ping_fault:
    answer the ping with a fault of this status. silent: accept connections and calls, never answer."""

    COMMANDS = {17: 'ProviderRefreshService', 23: 'ProviderStartService', 24: 'ProviderStopService',
                25: 'ProviderRefreshAllServices', 26: 'ProviderRefreshConfiguration'}
    INFO = b'<Pictora><Basic/><Services/></Pictora>\x00'

    def __init__(self, load=0.5, ping_fault=None, silent=False):
        self.load, self.ping_fault, self.silent = load, ping_fault, silent
        self.calls = []
        self.commands = []  # (procedure name, request) of every start, stop and refresh received
        super().__init__(backlog=16)

    def commanded(self, name):
        """The requests of that procedure received so far."""
        return [request for command, request in self.commands if command == name]

    def on_bind(self, sock, pdu, call_id):
        max_xmit, max_recv = struct.unpack('<HH', pdu[16:20])
        fragment = max(2048, min(max_xmit, max_recv, 5840)) & 0xFFF8
        accepted = pdu[32:52] == uuidtup_to_bin(PROVIDER_IF)
        sock.sendall(bind_ack(call_id, fragment, 0x4321, b'%d\x00' % self.port, accepted))
        return fragment

    def on_request(self, sock, call_id, opnum, stub, fragment):
        self.calls.append(opnum)
        if self.silent:
            self._stop.wait(60)
            return False
        if opnum == 0 and self.ping_fault is not None:
            sock.sendall(fault(call_id, self.ping_fault))
            return True
        if opnum == 19:
            answer = ProviderGetLoadResponse()
            answer['Load'] = self.load
        elif opnum == 15:
            request = ProviderGetInfo(stub)
            answer, size = ProviderGetInfoResponse(), request['Size']
            answer['Buffer'] = self.INFO.ljust(size, b'\x00') if size >= len(self.INFO) else b'\x00' * size
            answer['ErrText'], answer['Result'] = request['ErrText'], 0 if size >= len(self.INFO) else len(self.INFO)
        elif opnum in self.COMMANDS:
            request = globals()[self.COMMANDS[opnum]](stub)
            self.commands.append((self.COMMANDS[opnum], request))
            answer = globals()[self.COMMANDS[opnum] + 'Response']()
            answer['ErrText'], answer['Result'] = request['ErrText'], 1
        else:  # the ping; any other procedure answers the same single byte
            answer = ProviderPingResponse()
            answer['Result'] = 1
        send_response(sock, call_id, answer.getData(), fragment)
        return True
