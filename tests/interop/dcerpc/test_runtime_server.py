"""impacket as a client of the runtime's server."""
import socket
import struct

import pytest
from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.rpcrt import DCERPCException
from impacket.uuid import uuidtup_to_bin

from raw_rpc import UnixSocketTransport, read_pdu, z
from rpc_defs import (OP_UNASSIGNED, SECOND_IF, TEST_IF, UNKNOWN_IF, Bytes, Double, Echo, Fill,
                      LengthData, Ping, Throw, fill_text)

NDR20 = ('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0')
NDR64 = ('71710533-beba-4937-8319-b5dbef9ccc36', '1.0')
BTFN_03 = ('6cb71c2c-9812-4540-0300-000000000000', '1.0')


def tcp_dce(server):
    dce = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % server.port).get_dce_rpc()
    dce.connect()
    return dce


def pipe_dce(server):
    dce = UnixSocketTransport(server.pipe_path, timeout=20).get_dce_rpc()
    dce.connect()
    return dce


def echo(dce, text, room=20):
    request = Echo()
    request['Text'] = z(text)
    request['Reply'] = z('A' * (len(text) + room))
    return dce.request(request, checkError=False)


@pytest.mark.parametrize('connect', [tcp_dce, pipe_dce])
def test_one_context_bind_and_every_parameter_kind(server, connect):
    dce = connect(server)
    dce.bind(uuidtup_to_bin(TEST_IF))

    reply = echo(dce, 'hello')
    assert reply['Reply'] == 'echo:hello\x00'
    assert reply['Result'] == 5

    request = Bytes()
    request['Text'] = z('p')
    request['In'] = b'\x01\x02\x03'
    request['InLength'] = 3
    request['OutLength'] = 3
    reply = dce.request(request, checkError=False)
    assert b''.join(reply['Out']) == b'p\x01\x02'
    assert reply['OutLength'] == 3
    assert reply['Result'] == 1

    request = Double()
    request['Value'] = 1.25
    assert dce.request(request, checkError=False)['Value'] == 2.5

    request = LengthData()
    request['Length'] = 7
    request['Data'] = b'abc\x00xyz'
    assert dce.request(request, checkError=False)['Result'] == 3

    request = Fill()
    request['Count'] = z('10')
    request['Size'] = 0
    request['Error'] = z('A' * 10)
    assert dce.request(request, checkError=False)['Result'] == 11
    request['Size'] = 11
    reply = dce.request(request, checkError=False)
    assert reply['Result'] == 0
    assert b''.join(reply['Buffer']) == fill_text(10).encode() + b'\x00'
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
        assert (max_xmit, max_recv) == (5840, 5840)
        assert group != 0
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
        assert response[2] == 2
        assert response[24:] == b'\x01'


def test_alter_context_opens_a_second_interface(server):
    dce = tcp_dce(server)
    dce.bind(uuidtup_to_bin(TEST_IF))
    second = dce.alter_ctx(uuidtup_to_bin(SECOND_IF))
    assert second.request(Ping(), checkError=False)['Result'] == 2
    assert dce.request(Ping(), checkError=False)['Result'] == 1
    dce.disconnect()


def test_fragmented_request_and_response(server):
    dce = tcp_dce(server)
    dce.bind(uuidtup_to_bin(TEST_IF))
    dce.set_max_fragment_size(1)  # one stub byte per request fragment
    text = 'x' * 3000
    assert echo(dce, text)['Reply'] == z('echo:' + text)
    dce.set_max_fragment_size(4000)
    request = Fill()
    request['Count'] = z('100000')
    request['Size'] = 100001
    request['Error'] = z('A' * 10)
    reply = dce.request(request, checkError=False)  # about 18 response fragments
    assert reply['Result'] == 0
    assert b''.join(reply['Buffer']) == fill_text(100000).encode() + b'\x00'
    dce.disconnect()


def test_faults_keep_the_connection(server):
    dce = tcp_dce(server)
    dce.bind(uuidtup_to_bin(TEST_IF))
    for opnum, stub, name in [(OP_UNASSIGNED, b'', 'nca_s_op_rng_error'),
                              (200, b'', 'nca_s_op_rng_error'),
                              (1, b'\xff\xff\xff', 'rpc_x_bad_stub_data'),
                              (7, b'', 'nca_s_fault_unspec'),
                              (10, b'', 'rpc_s_access_denied')]:
        dce.call(opnum, stub)
        with pytest.raises(DCERPCException, match=name):
            dce.recv()
    with pytest.raises(DCERPCException, match='nca_s_fault_unspec'):
        dce.request(Throw(), checkError=False)
    assert echo(dce, 'still here')['Reply'] == z('echo:still here')
    dce.disconnect()


def test_unknown_interface_is_refused_at_bind(server):
    dce = tcp_dce(server)
    with pytest.raises(DCERPCException, match='abstract_syntax_not_supported'):
        dce.bind(uuidtup_to_bin(UNKNOWN_IF))
    dce.disconnect()


def test_malformed_pdu_closes_only_its_connection(server):
    good = tcp_dce(server)
    good.bind(uuidtup_to_bin(TEST_IF))
    with socket.create_connection(('127.0.0.1', server.port), timeout=10) as sock:
        sock.sendall(b'\x05\x01\x0b\x03\x10\x00\x00\x00\x10\x00\x00\x00\x01\x00\x00\x00')
        nak = read_pdu(sock)
        assert nak[2] == 13 and struct.unpack('<H', nak[16:18])[0] == 4
        assert sock.recv(1) == b''
    with socket.create_connection(('127.0.0.1', server.port), timeout=10) as sock:
        sock.sendall(bind_pdu([(0, TEST_IF, [NDR20])]))
        read_pdu(sock)
        sock.sendall(bind_pdu([(0, TEST_IF, [NDR20])], call_id=2))  # a second bind
        nak = read_pdu(sock)
        assert nak[2] == 13
        assert sock.recv(1) == b''
    assert echo(good, 'unaffected')['Result'] == len('unaffected')
    good.disconnect()
