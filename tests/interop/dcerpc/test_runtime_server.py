"""impacket as a client of the runtime's server: what only a foreign peer's encoder and decoder show.
Bind failures, fault cases and protocol errors are proven at the connection state machine."""
import socket
import struct

import pytest
from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.rpcrt import DCERPCException
from impacket.uuid import uuidtup_to_bin

from raw_rpc import UnixSocketTransport, read_pdu, z
from rpc_defs import TEST_IF, Bytes, Double, Echo, Fill, LengthData, fill_text

NDR20 = ('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0')
NDR64 = ('71710533-beba-4937-8319-b5dbef9ccc36', '1.0')
BTFN_03 = ('6cb71c2c-9812-4540-0300-000000000000', '1.0')


def tcp_dce(server):
    return transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % server.port).get_dce_rpc()


def pipe_dce(server):
    return UnixSocketTransport(server.pipe_path, timeout=20).get_dce_rpc()


def call(dce, request, **fields):
    for name, value in fields.items():
        request[name] = value
    return dce.request(request, checkError=False)


@pytest.mark.parametrize('make_dce', [tcp_dce, pipe_dce])
def test_every_parameter_kind_fragmented_both_ways_and_a_fault(server, make_dce):
    dce = make_dce(server)
    dce.connect()
    dce.bind(uuidtup_to_bin(TEST_IF))
    reply = call(dce, Echo(), Text=z('hello'), Reply=z('A' * 25))
    assert (reply['Reply'], reply['Result']) == ('echo:hello\x00', 5)
    reply = call(dce, Bytes(), Text=z('p'), In=b'\x01\x02\x03', InLength=3, OutLength=3)
    assert (b''.join(reply['Out']), reply['OutLength'], reply['Result']) == (b'p\x01\x02', 3, 1)
    assert call(dce, Double(), Value=1.25)['Value'] == 2.5
    assert call(dce, LengthData(), Length=7, Data=b'abc\x00xyz')['Result'] == 3
    assert call(dce, Fill(), Count=z('10'), Size=0, Error=z('A' * 10))['Result'] == 11
    dce.set_max_fragment_size(1)  # one stub byte per request fragment
    assert call(dce, Echo(), Text=z('x' * 3000), Reply=z('A' * 3020))['Reply'] == z('echo:' + 'x' * 3000)
    dce.set_max_fragment_size(4000)
    reply = call(dce, Fill(), Count=z('100000'), Size=100001, Error=z('A' * 10))  # about 18 fragments
    assert (reply['Result'], b''.join(reply['Buffer'])) == (0, fill_text(100000).encode() + b'\x00')
    dce.call(10, b'')
    with pytest.raises(DCERPCException, match='rpc_s_access_denied'):
        dce.recv()
    assert call(dce, Echo(), Text=z('still here'), Reply=z('A' * 30))['Result'] == 10
    dce.disconnect()


def bind_pdu(contexts, call_id=1):
    body = struct.pack('<HHIBBH', 5840, 5840, 0, len(contexts), 0, 0)
    for context_id, abstract, syntaxes in contexts:
        body += struct.pack('<HBB', context_id, len(syntaxes), 0) + uuidtup_to_bin(abstract)
        for syntax in syntaxes:
            body += uuidtup_to_bin(syntax)
    return struct.pack('<BBBB4sHHI', 5, 0, 11, 3, b'\x10\x00\x00\x00', 16 + len(body), 0, call_id) + body


def test_windows_style_three_context_bind(server):
    with socket.create_connection(('127.0.0.1', server.port), timeout=10) as sock:
        sock.sendall(bind_pdu([(0, TEST_IF, [NDR20]), (1, TEST_IF, [NDR64]), (2, TEST_IF, [BTFN_03])]))
        ack = read_pdu(sock)
        assert ack[2] == 12
        max_xmit, max_recv, group, address_length = struct.unpack('<HHIH', ack[16:26])
        assert (max_xmit, max_recv) == (5840, 5840) and group != 0
        assert ack[26:26 + address_length] == b'%d\x00' % server.port
        offset = (26 + address_length + 3) // 4 * 4
        assert ack[offset] == 3
        results = [struct.unpack('<HH', ack[offset + 4 + 24 * i:offset + 8 + 24 * i]) for i in range(3)]
        assert results == [(0, 0), (2, 2), (3, 2)]
        assert ack[offset + 8:offset + 28] == uuidtup_to_bin(NDR20)
        assert ack[offset + 56:offset + 76] == b'\x00' * 20
        # A request on the accepted context gets its answer.
        sock.sendall(struct.pack('<BBBB4sHHIIHH', 5, 0, 0, 3, b'\x10\x00\x00\x00', 24, 0, 2, 0, 0, 0))
        response = read_pdu(sock)
        assert (response[2], response[24:]) == (2, b'\x01')
