// Blocking-socket helpers shared by the runtime's benchmark programs: raw PDUs over loopback, so
// that the figures are the server's and not a client library's.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dcerpc/PduCodec.h"
#include "tests/dcerpc/TestInterface.h"

namespace Korvane::Pictora::DceRpc::Bench {

inline bool WriteFull(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

inline bool ReadFull(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = recv(fd, p, size, 0);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads one PDU with as few reads as an echo client needs (one, for small replies); returns its
// type or -1. Assumes the peer sends nothing unasked, as in request/response use.
inline int ReadPdu(int fd, std::vector<uint8_t>& pdu) {
  pdu.resize(8192);
  size_t have = 0;
  while (have < kHeaderSize || have < static_cast<size_t>(pdu[8] | (pdu[9] << 8))) {
    if (have >= kHeaderSize) pdu.resize(std::max<size_t>(pdu.size(), pdu[8] | (pdu[9] << 8)));
    ssize_t n = recv(fd, pdu.data() + have, pdu.size() - have, 0);
    if (n <= 0) return -1;
    have += static_cast<size_t>(n);
  }
  return pdu[2];
}

inline int Connect(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Connects and binds to an interface (the test interface by default); -1 on failure.
inline int ConnectBound(uint16_t port, const SyntaxId& interfaceId = Testing::TestInterfaceId()) {
  int fd = Connect(port);
  if (fd < 0) return -1;
  std::vector<uint8_t> bind;
  EncodeBind(PduType::kBind, 1, BindPdu{5840, 5840, 0, {{0, interfaceId, {Ndr20Syntax()}}}}, bind);
  std::vector<uint8_t> ack;
  if (!WriteFull(fd, bind.data(), bind.size()) || ReadPdu(fd, ack) != PduType::kBindAck) {
    close(fd);
    return -1;
  }
  return fd;
}

inline std::vector<uint8_t> RequestPdu(uint16_t opnum, const std::vector<uint8_t>& stub) {
  std::vector<uint8_t> pdu;
  EncodeRequestFragments(2, 0, opnum, stub, kTcpFragmentCap, pdu);
  return pdu;
}

}  // namespace Korvane::Pictora::DceRpc::Bench
