#include "dcerpc/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Korvane::Pictora::DceRpc {

namespace {

RpcStatus OsFailure(uint32_t code, int error) { return {code, SystemErrorText(error)}; }

RpcStatus ListenFailure(int error) {
  if (error == EADDRINUSE) return {StatusCode::kDuplicateEndpoint, StatusText(StatusCode::kDuplicateEndpoint)};
  if (error == EACCES || error == EPERM) return {StatusCode::kAccessDenied, StatusText(StatusCode::kAccessDenied)};
  return OsFailure(StatusCode::kCantCreateEndpoint, error);
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits for `events` on fd; false on time-out.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  while (true) {
    pollfd p{fd, events, 0};
    int ms = RemainingMs(deadline);
    int n = poll(&p, 1, ms);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // let the caller's read/write report the error
  }
}

bool MakeDirectories(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string prefix = path.substr(0, pos);
      if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

bool FillUnixAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Connects a non-blocking socket to `address` before the deadline; returns 0 or an errno value.
int ConnectWithin(int fd, const sockaddr* address, socklen_t length, Clock::time_point deadline) {
  if (connect(fd, address, length) == 0) return 0;
  if (errno != EINPROGRESS && errno != EAGAIN) return errno;
  if (!WaitFor(fd, POLLOUT, deadline)) return ETIMEDOUT;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

std::optional<uint16_t> ParseTcpEndpoint(std::string_view endpoint) {
  if (endpoint.empty() || endpoint.size() > 5) return std::nullopt;
  uint32_t port = 0;
  for (char c : endpoint) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (port > 65535) return std::nullopt;
  return static_cast<uint16_t>(port);
}

std::optional<std::string> ParsePipeEndpoint(std::string_view endpoint) {
  static constexpr std::string_view kPrefix = "\\pipe\\";
  if (endpoint.size() <= kPrefix.size()) return std::nullopt;
  for (size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(endpoint[i])) != kPrefix[i]) return std::nullopt;
  }
  std::string name(endpoint.substr(kPrefix.size()));
  if (name == "." || name == ".." || name.size() > 100) return std::nullopt;
  if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) return std::nullopt;
  return name;
}

std::string PipeDirectory() {
  const char* dir = std::getenv("PICTORA_PIPE_DIR");
  return dir != nullptr && *dir != '\0' ? dir : "/run/korvane/pipe";
}

std::string PipeSocketPath(const std::string& name) { return PipeDirectory() + "/" + name; }

Listener OpenTcpListener(uint16_t port, int backlog) {
  Listener listener;
  int family = AF_INET6;
  UniqueFd fd(socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    family = AF_INET;
    fd.Reset(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  }
  if (!fd.Valid()) {
    listener.status = ListenFailure(errno);
    return listener;
  }
  int on = 1, off = 0;
  setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  int bound;
  if (family == AF_INET6) {
    setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(port);
    bound = bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    bound = bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (bound != 0 || listen(fd.Get(), backlog) != 0) {
    listener.status = ListenFailure(errno);
    return listener;
  }
  sockaddr_storage actual{};
  socklen_t length = sizeof actual;
  getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&actual), &length);
  listener.port = family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&actual)->sin6_port)
                                     : ntohs(reinterpret_cast<sockaddr_in*>(&actual)->sin_port);
  listener.fd = std::move(fd);
  return listener;
}

Listener OpenPipeListener(const std::string& path, int backlog) {
  Listener listener;
  sockaddr_un address;
  if (!FillUnixAddress(path, address)) {
    listener.status = {StatusCode::kInvalidEndpointFormat, StatusText(StatusCode::kInvalidEndpointFormat)};
    return listener;
  }
  if (!MakeDirectories(path.substr(0, path.rfind('/')))) {
    listener.status = ListenFailure(errno);
    return listener;
  }
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      listener.status = ListenFailure(EADDRINUSE);
      return listener;
    }
    UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      listener.status = ListenFailure(EADDRINUSE);
      return listener;
    }
    unlink(path.c_str());  // stale: left behind by a server that did not stop cleanly
  }
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid() || bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    listener.status = ListenFailure(errno);
    return listener;
  }
  // Every local user may connect; access is decided per call from the peer's credentials.
  if (chmod(path.c_str(), 0666) != 0 || listen(fd.Get(), backlog) != 0) {
    listener.status = ListenFailure(errno);
    unlink(path.c_str());
    return listener;
  }
  listener.fd = std::move(fd);
  return listener;
}

Listener ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                    const std::string& source) {
  Listener result;
  sockaddr_storage local{};
  socklen_t localLength = 0;
  if (!source.empty()) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&local);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&local);
    if (inet_pton(AF_INET, source.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      localLength = sizeof *v4;
    } else if (inet_pton(AF_INET6, source.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      localLength = sizeof *v6;
    } else {
      result.status = {StatusCode::kInvalidNetAddr, StatusText(StatusCode::kInvalidNetAddr)};
      return result;
    }
  }
  const Clock::time_point deadline = Clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
  if (rc != 0) {
    result.status = {StatusCode::kServerUnavailable, gai_strerror(rc)};
    return result;
  }
  int lastError = ECONNREFUSED;
  for (addrinfo* a = addresses; a != nullptr && Clock::now() < deadline; a = a->ai_next) {
    if (localLength != 0 && a->ai_family != local.ss_family) continue;
    UniqueFd fd(socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
      lastError = errno;
      continue;
    }
    if (localLength != 0) {
      // The port is picked at connect time, per destination, not reserved here.
      int on = 1;
      setsockopt(fd.Get(), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
      if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), localLength) != 0) {
        lastError = errno;
        continue;
      }
    }
    lastError = ConnectWithin(fd.Get(), a->ai_addr, a->ai_addrlen, deadline);
    if (lastError == 0) {
      int on = 1;
      setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      result.fd = std::move(fd);
      break;
    }
  }
  freeaddrinfo(addresses);
  if (!result.fd.Valid()) result.status = OsFailure(StatusCode::kServerUnavailable, lastError);
  return result;
}

Listener ConnectPipe(const std::string& path, std::chrono::milliseconds timeout) {
  Listener result;
  sockaddr_un address;
  if (!FillUnixAddress(path, address)) {
    result.status = {StatusCode::kInvalidEndpointFormat, StatusText(StatusCode::kInvalidEndpointFormat)};
    return result;
  }
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  int error = fd.Valid() ? ConnectWithin(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address,
                                         Clock::now() + timeout)
                         : errno;
  if (error != 0) {
    result.status = OsFailure(StatusCode::kServerUnavailable, error);
    return result;
  }
  result.fd = std::move(fd);
  return result;
}

IoResult WriteAll(int fd, std::span<const uint8_t> bytes, Clock::time_point deadline, size_t* written) {
  size_t done = 0;
  IoResult result = IoResult::kOk;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(fd, POLLOUT, deadline)) {
        result = IoResult::kTimeout;
        break;
      }
    } else {
      result = IoResult::kClosed;
      break;
    }
  }
  if (written != nullptr) *written = done;
  return result;
}

IoResult ReadExact(int fd, std::span<uint8_t> bytes, Clock::time_point deadline) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = recv(fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      return IoResult::kClosed;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(fd, POLLIN, deadline)) return IoResult::kTimeout;
    } else {
      return IoResult::kClosed;
    }
  }
  return IoResult::kOk;
}

}  // namespace Korvane::Pictora::DceRpc
