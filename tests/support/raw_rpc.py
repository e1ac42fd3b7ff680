"""Hand-written DCE/RPC pieces shared by the Python tests: PDU framing, a server that speaks raw
PDUs (the stubs in and out are impacket NDR types, never our runtime), and the impacket helpers
both wire tables use. Whatever these tests judge, they judge by code we did not write for the
product."""
import socket
import struct
import threading

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.ndr import NDRUniConformantArray
from impacket.uuid import uuidtup_to_bin

NDR20 = uuidtup_to_bin(('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0'))
PFC_FIRST, PFC_LAST = 0x01, 0x02
REQUEST, RESPONSE, FAULT, BIND, BIND_ACK, BIND_NAK = 0, 2, 3, 11, 12, 13


class CharBuf(NDRUniConformantArray):
    """Conformant char[] / byte[]: max_count then the elements."""
    item = 'c'


def z(text):
    """A [string] char* as impacket sends it: the caller supplies the NUL."""
    return text + '\x00'


def unz(value):
    return value[:-1] if value.endswith('\x00') else value


class UnixSocketTransport(transport.DCERPCTransport):
    """ncacn_np stand-in: a Unix stream socket carrying the same PDUs as TCP."""

    def __init__(self, path, timeout=10):
        transport.DCERPCTransport.__init__(self, path, path)
        self._path = path
        self._timeout = timeout
        self._socket = None

    def connect(self):
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._socket.settimeout(self._timeout)
        self._socket.connect(self._path)
        return 1

    def disconnect(self):
        if self._socket is not None:
            self._socket.close()
            self._socket = None
        return 1

    def send(self, data, forceWriteAndx=0, forceRecv=0):
        self._socket.sendall(data)

    def recv(self, forceRecv=0, count=0):
        if count:
            return recv_exact(self._socket, count)
        return self._socket.recv(8192)

    def get_socket(self):
        return self._socket


def header(ptype, flags, length, call_id, big_endian=False):
    order = '>' if big_endian else '<'
    drep = b'\x00\x00\x00\x00' if big_endian else b'\x10\x00\x00\x00'
    return struct.pack('BBBB', 5, 0, ptype, flags) + drep + struct.pack(order + 'HHI', length, 0, call_id)


def recv_exact(sock, count):
    data = b''
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError('peer closed the connection')
        data += chunk
    return data


def read_pdu(sock):
    head = recv_exact(sock, 16)
    length = struct.unpack('<H', head[8:10])[0]
    return head + recv_exact(sock, length - 16)


def bind_ack(call_id, fragment, assoc_group, secondary_address, accepted):
    """secondary_address: bytes with their NUL."""
    result = struct.pack('<HH', 0, 0) + NDR20 if accepted else struct.pack('<HH', 2, 1) + b'\x00' * 20
    body = struct.pack('<HHIH', fragment, fragment, assoc_group, len(secondary_address)) + secondary_address
    body += b'\x00' * ((4 - (26 + len(secondary_address)) % 4) % 4)
    body += struct.pack('<BBH', 1, 0, 0) + result
    return header(BIND_ACK, PFC_FIRST | PFC_LAST, 16 + len(body), call_id) + body


def fault(call_id, status):
    return header(FAULT, PFC_FIRST | PFC_LAST, 32, call_id) + struct.pack('<IHBBII', 32, 0, 0, 0, status, 0)


def send_response(sock, call_id, stub, fragment, align=8, big_endian=False):
    """The response stub cut into fragments of at most `fragment` bytes, each stub piece a
    multiple of `align`."""
    order = '>' if big_endian else '<'
    chunk = (fragment - 24) // align * align
    offset = 0
    while True:
        piece = stub[offset:offset + chunk]
        flags = (PFC_FIRST if offset == 0 else 0) | (PFC_LAST if offset + len(piece) >= len(stub) else 0)
        body = struct.pack(order + 'IHBB', len(stub) - offset, 0, 0, 0) + piece
        sock.sendall(header(RESPONSE, flags, 16 + len(body), call_id, big_endian) + body)
        offset += len(piece)
        if flags & PFC_LAST:
            return


class RawPduServer:
    """Listens on a free loopback port, one thread per connection. A connection reassembles
    requests; any PDU but a bind or a request ends it. Subclasses answer by defining
    on_bind(sock, pdu, call_id), which returns the fragment size agreed (None ends the
    connection), and on_request(sock, call_id, opnum, stub, fragment), which returns False to
    end the connection."""

    def __init__(self, backlog=8):
        self._stop = threading.Event()
        self.listener = socket.socket()
        self.listener.bind(('127.0.0.1', 0))
        self.listener.listen(backlog)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def close(self):
        self._stop.set()
        # Wake the accept thread: a socket closed under a blocked accept() would stay listening.
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.thread.join(5)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _accept(self):
        while not self._stop.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, sock):
        fragment, stub = 4280, b''
        with sock:
            try:
                while True:
                    pdu = read_pdu(sock)
                    ptype, flags, call_id = pdu[2], pdu[3], struct.unpack('<I', pdu[12:16])[0]
                    if ptype == BIND:
                        fragment = self.on_bind(sock, pdu, call_id)
                        if fragment is None:
                            return
                        continue
                    if ptype != REQUEST:
                        return
                    stub += pdu[24:]
                    if not flags & PFC_LAST:
                        continue
                    if not self.on_request(sock, call_id, struct.unpack('<H', pdu[22:24])[0], stub, fragment):
                        return
                    stub = b''
            except (ConnectionError, OSError):
                pass
