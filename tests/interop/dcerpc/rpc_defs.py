"""impacket descriptions of the runtime's test interface (see tests/dcerpc/TestInterface.h)."""
from impacket.dcerpc.v5.dtypes import STR
from impacket.dcerpc.v5.ndr import NDRCALL, NDRDOUBLEFLOAT, NDRLONG, NDRSMALL

from raw_rpc import CharBuf

TEST_IF = ('3f1b5c2a-6d7e-4f80-9a1b-2c3d4e5f6071', '1.0')
SECOND_IF = ('0c4e8a92-51d3-4b7f-8e26-9d0a1b2c3d4e', '2.1')
UNKNOWN_IF = ('11111111-2222-3333-4444-555555555555', '1.0')
OP_UNASSIGNED = 10


def fill_text(count):
    return ''.join(chr(ord('a') + i % 26) for i in range(count))


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
    structure = (('Text', STR), ('In', CharBuf), ('InLength', NDRLONG), ('OutLength', NDRLONG))


class BytesResponse(NDRCALL):
    structure = (('Out', CharBuf), ('OutLength', NDRLONG), ('Result', NDRSMALL))


class Fill(NDRCALL):
    opnum = 3
    structure = (('Count', STR), ('Size', NDRLONG), ('Error', STR))


class FillResponse(NDRCALL):
    structure = (('Buffer', CharBuf), ('Error', STR), ('Result', NDRLONG))


class LengthData(NDRCALL):
    opnum = 4
    structure = (('Length', NDRLONG), ('Data', CharBuf))


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
