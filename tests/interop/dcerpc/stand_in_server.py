"""A small hand-written DCE/RPC server (raw PDUs, impacket NDR for stubs) that the runtime's
client calls. It reassembles requests and fragments responses; its modes misbehave on purpose."""
import struct

from impacket.uuid import uuidtup_to_bin

from raw_rpc import BIND_NAK, PFC_FIRST, PFC_LAST, RawPduServer, bind_ack, fault, header, send_response
from rpc_defs import TEST_IF, Double, Echo, EchoResponse, Fill, FillResponse, fill_text


class StandInServer(RawPduServer):
    """mode: normal, fault, close, silent, nak, reject_if, big_endian; bind_call_id answers every
    request with the bind's call id (as the Windows runtime on Wine does), stray_call_id with
    another. call_ids lists the call ids received, the bind's first."""

    def __init__(self, mode='normal', fault_status=0):
        self.mode = mode
        self.fault_status = fault_status
        self.call_ids = []
        super().__init__(backlog=8)

    def on_request(self, sock, call_id, opnum, stub, fragment):
        self.call_ids.append(call_id)
        call_id = {'bind_call_id': self.call_ids[0], 'stray_call_id': call_id + 100}.get(self.mode, call_id)
        if self.mode == 'close':
            return False
        if self.mode == 'silent':
            self._stop.wait(30)
            return False
        if self.mode == 'fault':
            sock.sendall(fault(call_id, self.fault_status))
        else:
            send_response(sock, call_id, self._dispatch(opnum, stub), fragment, align=16,
                          big_endian=self.mode == 'big_endian')
        return True

    def on_bind(self, sock, pdu, call_id):
        self.call_ids.append(call_id)
        max_xmit, max_recv = struct.unpack('<HH', pdu[16:20])
        if self.mode == 'nak':
            sock.sendall(header(BIND_NAK, PFC_FIRST | PFC_LAST, 24, call_id) + struct.pack('<HBBB3s', 1, 1, 5, 0, b''))
            return None
        accepted = pdu[32:52] == uuidtup_to_bin(TEST_IF) and self.mode != 'reject_if'
        fragment = min(max_xmit, max_recv, 4280)
        sock.sendall(bind_ack(call_id, fragment, 0x1234, b'1234\x00', accepted))
        return fragment

    def _dispatch(self, opnum, stub):
        if opnum == 1:
            request = Echo(stub)
            text = request['Text'].rstrip('\x00')
            response = EchoResponse()
            response['Reply'] = 'echo:' + text + '\x00'
            response['Result'] = len(text)
            return response.getData()
        if opnum == 3:
            request = Fill(stub)
            count = int(request['Count'].rstrip('\x00'))
            size = request['Size']
            need = count + 1
            response = FillResponse()
            if size >= need:
                response['Buffer'] = (fill_text(count).encode() + b'\x00').ljust(size, b'\x00')
                response['Result'] = 0
            else:
                response['Buffer'] = b'\x00' * size
                response['Result'] = need
            response['Error'] = request['Error']
            return response.getData()
        if opnum == 5:
            value = Double(stub)['Value'] * 2
            if self.mode == 'big_endian':
                return struct.pack('>d', value)
            return struct.pack('<d', value)
        return b'\x01'
