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


# ---- server interface: procedures 0-24, 46, 47 -------------------------------------------

class GetVersion(NDRCALL):
    opnum = 0
    structure = (('Version', STR),)


class GetVersionResponse(NDRCALL):
    structure = (('Version', STR), ('Result', NDRSMALL))


class _TextOnly(NDRCALL):
    structure = (('Text', STR),)


class _SmallResult(NDRCALL):
    structure = (('Result', NDRSMALL),)


class Reserved1(_TextOnly):
    opnum = 1


class Reserved1Response(_SmallResult):
    pass


class Reserved2(NDRCALL):
    opnum = 2
    structure = (('Text', STR), ('In', CharBuf), ('InLength', NDRLONG), ('OutLength', NDRLONG))


class Reserved2Response(NDRCALL):
    structure = (('Out', CharBuf), ('OutLength', NDRLONG), ('Result', NDRSMALL))


class Reserved3(_TextOnly):
    opnum = 3


class Reserved3Response(_SmallResult):
    pass


class OpenSession(NDRCALL):
    opnum = 4
    structure = (('Info', STR), ('SessionId', STR), ('ErrText', STR))


class OpenSessionResponse(NDRCALL):
    structure = (('SessionId', STR), ('ErrText', STR), ('Result', NDRSMALL))


class CloseSession(_TextOnly):
    opnum = 8


class CloseSessionResponse(_SmallResult):
    pass


class GetSession(_TextOnly):
    opnum = 9


class GetSessionResponse(_SmallResult):
    pass


class NotifySession(NDRCALL):
    opnum = 10
    structure = (('Session', STR), ('Flag', NDRSMALL), ('Text', STR), ('ErrText', STR))


class NotifySessionResponse(NDRCALL):
    structure = (('ErrText', STR), ('Result', NDRSMALL))


class _NameAndData(NDRCALL):
    structure = (('Session', STR), ('Name', STR), ('Length', NDRLONG), ('Data', CharBuf),
                 ('ErrText', STR))


class _ErrAndSmall(NDRCALL):
    structure = (('ErrText', STR), ('Result', NDRSMALL))


class AddServiceProvider(_NameAndData):
    opnum = 11


class AddServiceProviderResponse(_ErrAndSmall):
    pass


class RemoveServiceProvider(NDRCALL):
    opnum = 12
    structure = (('Session', STR), ('Name', STR), ('ErrText', STR))


class RemoveServiceProviderResponse(_ErrAndSmall):
    pass


class _TwoTextsBuffer(NDRCALL):
    structure = (('Session', STR), ('Name', STR), ('Size', NDRLONG), ('ErrText', STR))


class _BufferReply(NDRCALL):
    structure = (('Buffer', CharBuf), ('ErrText', STR), ('Result', NDRLONG))


class GetServiceProvidersFor(_TwoTextsBuffer):
    opnum = 13


class GetServiceProvidersForResponse(_BufferReply):
    pass


class GetServiceProviderInfo(_TwoTextsBuffer):
    opnum = 14


class GetServiceProviderInfoResponse(_BufferReply):
    pass


class UpdateServiceProviderInfo(_NameAndData):
    opnum = 15


class UpdateServiceProviderInfoResponse(_ErrAndSmall):
    pass


class AddServices(_NameAndData):
    opnum = 16


class AddServicesResponse(_ErrAndSmall):
    pass


class RemoveServices(_NameAndData):
    opnum = 17


class RemoveServicesResponse(_ErrAndSmall):
    pass


class GetInfo(_TwoTextsBuffer):
    opnum = 18


class GetInfoResponse(_BufferReply):
    pass


class _SessionBuffer(NDRCALL):
    structure = (('Session', STR), ('Size', NDRLONG), ('ErrText', STR))


class GetServiceProviders(_SessionBuffer):
    opnum = 19


class GetServiceProvidersResponse(_BufferReply):
    pass


class Reserved20(_SessionBuffer):
    opnum = 20


class Reserved20Response(_BufferReply):
    pass


class GetServices(_TwoTextsBuffer):
    opnum = 21


class GetServicesResponse(_BufferReply):
    pass


class Reserved22(_TwoTextsBuffer):
    opnum = 22


class Reserved22Response(_BufferReply):
    pass


class Reserved23(_TwoTextsBuffer):
    opnum = 23


class Reserved23Response(_BufferReply):
    pass


class SetStopFlag(NDRCALL):
    opnum = 24
    structure = (('Text1', STR), ('Text2', STR))


class SetStopFlagResponse(_SmallResult):
    pass


class GetServicesForServiceProvider(_TwoTextsBuffer):
    opnum = 46


class GetServicesForServiceProviderResponse(_BufferReply):
    pass


class GetServiceProviderConfiguration(_TwoTextsBuffer):
    opnum = 47


class GetServiceProviderConfigurationResponse(_BufferReply):
    pass


# ---- provider interface: the procedures the server calls ----------------------------------

class ProviderPing(NDRCALL):
    opnum = 0
    structure = ()


class ProviderPingResponse(_SmallResult):
    pass


class ProviderGetInfo(NDRCALL):
    opnum = 15
    structure = (('Level', STR), ('Size', NDRLONG), ('ErrText', STR))


class ProviderGetInfoResponse(_BufferReply):
    pass


class ProviderRefreshService(NDRCALL):
    opnum = 17
    structure = (('Xml', STR), ('ErrText', STR))


class ProviderRefreshServiceResponse(_ErrAndSmall):
    pass


class ProviderGetLoad(NDRCALL):
    opnum = 19
    structure = (('Load', NDRDOUBLEFLOAT),)


class ProviderGetLoadResponse(NDRCALL):
    structure = (('Load', NDRDOUBLEFLOAT),)


class ProviderStartService(NDRCALL):
    opnum = 23
    structure = (('Caller', STR), ('Source', STR), ('Name', STR), ('Properties', STR),
                 ('ErrText', STR))


class ProviderStartServiceResponse(_ErrAndSmall):
    pass


class ProviderStopService(NDRCALL):
    opnum = 24
    structure = (('Caller', STR), ('Name', STR), ('ErrText', STR))


class ProviderStopServiceResponse(_ErrAndSmall):
    pass


class ProviderRefreshAllServices(NDRCALL):
    opnum = 25
    structure = (('Caller', STR), ('ErrText', STR))


class ProviderRefreshAllServicesResponse(_ErrAndSmall):
    pass


class ProviderRefreshConfiguration(NDRCALL):
    opnum = 26
    structure = (('Caller', STR), ('ErrText', STR))


class ProviderRefreshConfigurationResponse(_ErrAndSmall):
    pass


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
