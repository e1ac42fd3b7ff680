"""impacket descriptions of the runtime's test interface (see tests/dcerpc/TestInterface.h)."""
import socket

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.dtypes import STR
from impacket.dcerpc.v5.ndr import (NDRCALL, NDRDOUBLEFLOAT, NDRLONG, NDRSMALL,
                                    NDRUniConformantArray)

TEST_IF = ('3f1b5c2a-6d7e-4f80-9a1b-2c3d4e5f6071', '1.0')
SECOND_IF = ('0c4e8a92-51d3-4b7f-8e26-9d0a1b2c3d4e', '2.1')
UNKNOWN_IF = ('11111111-2222-3333-4444-555555555555', '1.0')
OP_UNASSIGNED = 10


def z(text):
    """STR sends exactly what it is given: add the NUL."""
    return text + '\x00'


def fill_text(count):
    return ''.join(chr(ord('a') + i % 26) for i in range(count))


class ByteArray(NDRUniConformantArray):
    item = 'c'


class Ping(NDRCALL):
    opnum = 0
    structure = ()


class PingResponse(NDRCALL):
    structure = (('Result', NDRSMALL),)


class Echo(NDRCALL):
    opnum = 1
    structure = (('Text', STR), ('Reply', STR))


class EchoResponse(NDRCALL):
    structure = (('Reply', STR), ('Result', NDRLONG))


class Bytes(NDRCALL):
    opnum = 2
    structure = (('Text', STR), ('In', ByteArray), ('InLength', NDRLONG), ('OutLength', NDRLONG))


class BytesResponse(NDRCALL):
    structure = (('Out', ByteArray), ('OutLength', NDRLONG), ('Result', NDRSMALL))


class Fill(NDRCALL):
    opnum = 3
    structure = (('Count', STR), ('Size', NDRLONG), ('Error', STR))


class FillResponse(NDRCALL):
    structure = (('Buffer', ByteArray), ('Error', STR), ('Result', NDRLONG))


class LengthData(NDRCALL):
    opnum = 4
    structure = (('Length', NDRLONG), ('Data', ByteArray))


class LengthDataResponse(NDRCALL):
    structure = (('Result', NDRLONG),)


class Double(NDRCALL):
    opnum = 5
    structure = (('Value', NDRDOUBLEFLOAT),)


class DoubleResponse(NDRCALL):
    structure = (('Value', NDRDOUBLEFLOAT),)


class Throw(NDRCALL):
    opnum = 7
    structure = ()


class ThrowResponse(NDRCALL):
    structure = (('Result', NDRSMALL),)


class UnixTransport(transport.DCERPCTransport):
    """The pipe socket: a Unix stream socket carrying the same PDUs as TCP."""

    def __init__(self, path):
        transport.DCERPCTransport.__init__(self, path, 0)
        self._path = path
        self._socket = None

    def connect(self):
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._socket.settimeout(20)
        self._socket.connect(self._path)
        return 1

    def send(self, data, forceWriteAndx=0, forceRecv=0):
        self._socket.sendall(data)

    def recv(self, forceRecv=0, count=0):
        if not count:
            return self._socket.recv(8192)
        data = b''
        while len(data) < count:
            chunk = self._socket.recv(count - len(data))
            if not chunk:
                raise ConnectionError('peer closed the connection')
            data += chunk
        return data

    def disconnect(self):
        self._socket.close()
        return 1

    def get_socket(self):
        return self._socket
