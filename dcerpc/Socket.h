// Internal: the socket plumbing of the runtime: endpoint texts, listeners, connecting with a
// time-out, and reading/writing whole buffers on non-blocking sockets before a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc {

using Clock = std::chrono::steady_clock;

// Owns a file descriptor; closes it on destruction. Move-only.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

enum class IoResult { kOk, kTimeout, kClosed };

// A TCP endpoint is a decimal port 0-65535; nullopt otherwise.
std::optional<uint16_t> ParseTcpEndpoint(std::string_view endpoint);
// "\pipe\NAME" (prefix in any case) -> NAME; nullopt unless NAME is a plain, non-empty file name.
std::optional<std::string> ParsePipeEndpoint(std::string_view endpoint);
// Folder of the pipe sockets: $PICTORA_PIPE_DIR, default /run/korvane/pipe.
std::string PipeDirectory();
std::string PipeSocketPath(const std::string& name);

struct Listener {
  UniqueFd fd;
  uint16_t port = 0;  // actual TCP port
  RpcStatus status;
};

// A non-blocking listening socket on every local address (IPv6 and IPv4 where available).
Listener OpenTcpListener(uint16_t port, int backlog);
// A non-blocking listening Unix stream socket at `path`, mode 0666, folder created; a stale
// socket file (nobody accepting) is replaced, a live one is a duplicate endpoint.
Listener OpenPipeListener(const std::string& path, int backlog);

// Connects a non-blocking socket within the time-out. Failure: invalid fd, status 1722 with the
// reason in its text (or 1707 for an address that does not resolve to anything). A numeric
// `source` binds the local address first; only destinations of its family are tried.
Listener ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                    const std::string& source = "");
Listener ConnectPipe(const std::string& path, std::chrono::milliseconds timeout);

// Writes all bytes to a socket without blocking in send (blocking sockets too), waiting for room
// until the deadline; `written` tells how far it got.
IoResult WriteAll(int fd, std::span<const uint8_t> bytes, Clock::time_point deadline, size_t* written = nullptr);
// Reads exactly bytes.size() bytes from a socket, blocking or not, before the deadline.
IoResult ReadExact(int fd, std::span<uint8_t> bytes, Clock::time_point deadline);

}  // namespace Korvane::Pictora::DceRpc
