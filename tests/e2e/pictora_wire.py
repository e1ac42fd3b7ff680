"""The wire contract of the server and provider interfaces, written with impacket's NDR types.

Every stub here is built by impacket from this table, never by our own marshalling code, so the
tests that use it judge the server's wire format by code we did not write.
"""
import os
import sys

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.ndr import NDRCALL, NDRDOUBLEFLOAT, NDRLONG, NDRSMALL
from impacket.dcerpc.v5.dtypes import STR
from impacket.uuid import uuidtup_to_bin

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))

from raw_rpc import CharBuf, UnixSocketTransport, unz, z  # noqa: E402,F401  (part of this table)

SERVER_IF = ('8a60fd6c-7ebf-4aee-839c-1df4243d03d2', '1.0')
PROVIDER_IF = ('b9730071-b03f-42b3-b002-2c3996f28928', '1.0')


def buffer_text(resp):
    raw = b''.join(resp['Buffer'])
    return raw.split(b'\x00', 1)[0].decode('latin-1')


# ---- the procedures: (name, opnum, request fields, response fields) ---------------------------
# impacket finds a request's answer type as <name>Response in this module, so both classes of
# every row are defined here by _define().

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

SERVER_PROCEDURES = (
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
)

# The provider interface: the procedures the server calls.
PROVIDER_PROCEDURES = (
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


def _define(table):
    for name, opnum, request, response in table:
        globals()[name] = type(name, (NDRCALL,), {'opnum': opnum, 'structure': request, '__module__': __name__})
        globals()[name + 'Response'] = type(name + 'Response', (NDRCALL,),
                                            {'structure': response, '__module__': __name__})


_define(SERVER_PROCEDURES + PROVIDER_PROCEDURES)


# ---- transports -----------------------------------------------------------------------------

def connect_tcp(port, interface=SERVER_IF, host='127.0.0.1', timeout=10):
    trans = transport.DCERPCTransportFactory('ncacn_ip_tcp:%s[%d]' % (host, port))
    trans.set_connect_timeout(timeout)
    dce = trans.get_dce_rpc()
    dce.connect()
    dce.get_rpc_transport().get_socket().settimeout(timeout)
    dce.bind(uuidtup_to_bin(interface))
    return dce


def connect_unix(path, interface=SERVER_IF, timeout=10):
    dce = UnixSocketTransport(path, timeout).get_dce_rpc()
    dce.connect()
    dce.bind(uuidtup_to_bin(interface))
    return dce
