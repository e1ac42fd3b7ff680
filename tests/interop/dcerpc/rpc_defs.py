"""impacket descriptions of the runtime's test interface (see tests/dcerpc/TestInterface.h)."""
from impacket.dcerpc.v5.dtypes import STR
from impacket.dcerpc.v5.ndr import NDRCALL, NDRDOUBLEFLOAT, NDRLONG, NDRSMALL

from raw_rpc import CharBuf

TEST_IF = ('3f1b5c2a-6d7e-4f80-9a1b-2c3d4e5f6071', '1.0')


def fill_text(count):
    return ''.join(chr(ord('a') + i % 26) for i in range(count))


# (name, opnum, request fields, response fields); impacket looks for <name>Response here.
PROCEDURES = (
    ('Echo', 1, (('Text', STR), ('Reply', STR)), (('Reply', STR), ('Result', NDRLONG))),
    ('Bytes', 2, (('Text', STR), ('In', CharBuf), ('InLength', NDRLONG), ('OutLength', NDRLONG)),
     (('Out', CharBuf), ('OutLength', NDRLONG), ('Result', NDRSMALL))),
    ('Fill', 3, (('Count', STR), ('Size', NDRLONG), ('Error', STR)),
     (('Buffer', CharBuf), ('Error', STR), ('Result', NDRLONG))),
    ('LengthData', 4, (('Length', NDRLONG), ('Data', CharBuf)), (('Result', NDRLONG),)),
    ('Double', 5, (('Value', NDRDOUBLEFLOAT),), (('Value', NDRDOUBLEFLOAT),)),
)

for _name, _opnum, _request, _response in PROCEDURES:
    globals()[_name] = type(_name, (NDRCALL,), {'opnum': _opnum, 'structure': _request, '__module__': __name__})
    globals()[_name + 'Response'] = type(_name + 'Response', (NDRCALL,),
                                         {'structure': _response, '__module__': __name__})
