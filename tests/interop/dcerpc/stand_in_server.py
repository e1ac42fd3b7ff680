"""A small hand-written DCE/RPC server (raw PDUs, impacket NDR for stubs) that the runtime's
client calls. It reassembles requests and fragments responses; its modes misbehave on purpose."""
import socket
import struct
import threading

from impacket.uuid import uuidtup_to_bin

from rpc_defs import TEST_IF, Double, Echo, EchoResponse, Fill, FillResponse, fill_text

NDR20 = uuidtup_to_bin(('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0'))
FIRST, LAST = 0x01, 0x02


def header(ptype, flags, length, call_id, big_endian=False):
    order = '>' if big_endian else '<'
    drep = b'\x00\x00\x00\x00' if big_endian else b'\x10\x00\x00\x00'
    return struct.pack('BBBB', 5, 0, ptype, flags) + drep + struct.pack(order + 'HHI', length, 0, call_id)


def recv_exact(sock, count):
    data = b''
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError('peer closed')
        data += chunk
    return data


def read_pdu(sock):
    head = recv_exact(sock, 16)
    length = struct.unpack('<H', head[8:10])[0]
    return head + recv_exact(sock, length - 16)


class StandInServer:
    """mode: normal, fault, close, silent, nak, reject_if, big_endian."""

    def __init__(self, mode='normal', fault_status=0):
        self.mode = mode
        self.fault_status = fault_status
        self.listener = socket.socket()
        self.listener.bind(('127.0.0.1', 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop.set()
        # Wake the accept thread: a socket closed under a blocked accept() would stay listening.
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.thread.join(5)
        self.listener.close()

    def _accept(self):
        while not self.stop.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, sock):
        with sock:
            try:
                self._conversation(sock)
            except (ConnectionError, OSError):
                pass

    def _conversation(self, sock):
        fragment = 4280
        stub = b''
        while True:
            pdu = read_pdu(sock)
            ptype, flags, call_id = pdu[2], pdu[3], struct.unpack('<I', pdu[12:16])[0]
            if ptype == 11:
                fragment = self._bind(sock, pdu, call_id)
                if fragment is None:
                    return
                continue
            stub += pdu[24:]
            if not flags & LAST:
                continue
            opnum = struct.unpack('<H', pdu[22:24])[0]
            if self.mode == 'close':
                return
            if self.mode == 'silent':
                self.stop.wait(30)
                return
            if self.mode == 'fault':
                sock.sendall(header(3, 3, 32, call_id) + struct.pack('<IHBBII', 32, 0, 0, 0, self.fault_status, 0))
            else:
                self._respond(sock, call_id, self._dispatch(opnum, stub), fragment)
            stub = b''

    def _bind(self, sock, pdu, call_id):
        max_xmit, max_recv = struct.unpack('<HH', pdu[16:20])
        if self.mode == 'nak':
            sock.sendall(header(13, 3, 24, call_id) + struct.pack('<HBBB3s', 1, 1, 5, 0, b''))
            return None
        abstract = pdu[32:52]
        accepted = abstract == uuidtup_to_bin(TEST_IF) and self.mode != 'reject_if'
        fragment = min(max_xmit, max_recv, 4280)
        result = struct.pack('<HH', 0, 0) + NDR20 if accepted else struct.pack('<HH', 2, 1) + b'\x00' * 20
        body = struct.pack('<HHIH', fragment, fragment, 0x1234, 5) + b'1234\x00' + b'\x00' + \
            struct.pack('<BBH', 1, 0, 0) + result
        sock.sendall(header(12, 3, 16 + len(body), call_id) + body)
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

    def _respond(self, sock, call_id, stub, fragment):
        big = self.mode == 'big_endian'
        order = '>' if big else '<'
        chunk = (fragment - 24) // 16 * 16
        offset = 0
        while True:
            piece = stub[offset:offset + chunk]
            flags = (FIRST if offset == 0 else 0) | (LAST if offset + len(piece) >= len(stub) else 0)
            body = struct.pack(order + 'IHBB', len(stub) - offset, 0, 0, 0) + piece
            sock.sendall(header(2, flags, 16 + len(body), call_id, big) + body)
            offset += len(piece)
            if flags & LAST:
                return
