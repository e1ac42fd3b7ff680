#include "host/MetricsServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "global/Installation.h"

namespace Korvane::Pictora::Host {
namespace {

using DceRpc::Clock;
using DceRpc::UniqueFd;

constexpr std::size_t kMaxRequestHead = 8192;
constexpr int kListenBacklog = 64;

std::string Response(std::string_view status, std::string_view headers, std::string_view body) {
  std::string text = "HTTP/1.1 ";
  text.append(status).append("\r\n").append(headers);
  text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  return text.append(body);
}

// The head ends at its first empty line (lines end in CRLF, or LF from lenient clients).
bool HeadIsWhole(const std::string& head) {
  return head.find("\r\n\r\n") != std::string::npos || head.find("\n\n") != std::string::npos;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "200 OK";
    case 503: return "503 Service Unavailable";
    default: return "500 Internal Server Error";
  }
}

std::string Answer(std::string_view head, const HttpRouter& router) {
  const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  const std::size_t methodEnd = line.find(' ');
  const std::size_t targetEnd = methodEnd == std::string_view::npos ? methodEnd : line.find(' ', methodEnd + 1);
  if (targetEnd == std::string_view::npos || line.substr(targetEnd + 1).substr(0, 5) != "HTTP/")
    return Response("400 Bad Request", "", "");
  const std::string_view target = line.substr(methodEnd + 1, targetEnd - methodEnd - 1);
  const HttpRouter::Handler* handler = router.Find(target.substr(0, target.find('?')));
  if (handler == nullptr)
    return Response("404 Not Found", "Content-Type: text/plain\r\n",
                    "Not found: this server answers /, /metrics, /healthz, /readyz and /api/v1/...");
  if (line.substr(0, methodEnd) != "GET") return Response("405 Method Not Allowed", "Allow: GET\r\n", "");
  try {
    const HttpReply reply = (*handler)();
    return Response(Reason(reply.status), "Content-Type: " + reply.contentType + "\r\n" + reply.headers, reply.body);
  } catch (...) {
    return Response("500 Internal Server Error", "Content-Type: text/plain\r\n", "The answer could not be built");
  }
}

// "address:port", "[address]:port" or "port" (every IPv4 address), numeric only: serving the
// page never waits for a name lookup.
UniqueFd Listen(const std::string& endpoint, std::string& error) {
  const std::size_t colon = endpoint.rfind(':');
  std::string host = colon == std::string::npos ? "0.0.0.0" : endpoint.substr(0, colon);
  const std::string port = colon == std::string::npos ? endpoint : endpoint.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int code = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found); code != 0) {
    error = "'" + endpoint + "' is not an address:port: " + gai_strerror(code);
    return {};
  }
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
  UniqueFd fd(socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int yes = 1;
  if (!fd.Valid() || setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      bind(fd.Get(), found->ai_addr, found->ai_addrlen) != 0 || listen(fd.Get(), kListenBacklog) != 0) {
    error = "cannot listen on " + endpoint + ": " + std::strerror(errno);
    return {};
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  const in_port_t port = address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                                       : reinterpret_cast<sockaddr_in*>(&address)->sin_port;
  return ntohs(port);
}

}  // namespace

std::string ConfiguredMetricsEndpoint() {
  return Global::FindInstallationValue("MetricsEndpoint").value_or("127.0.0.1:9382");
}

MetricsServer::MetricsServer(HttpRouter router, MetricsLimits limits) : router_(std::move(router)), limits_(limits) {}

std::unique_ptr<MetricsServer> MetricsServer::Start(const std::string& endpoint, HttpRouter router, std::string& error,
                                                    MetricsLimits limits) {
  limits.maxConnections = std::max<std::size_t>(limits.maxConnections, 1);
  std::unique_ptr<MetricsServer> server(new MetricsServer(std::move(router), limits));
  server->listener_ = Listen(endpoint, error);
  server->wake_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!server->listener_.Valid()) return nullptr;
  if (!server->wake_.Valid()) {
    error = std::string("no eventfd: ") + std::strerror(errno);
    return nullptr;
  }
  server->port_ = LocalPort(server->listener_.Get());
  server->thread_ = std::thread(&MetricsServer::Serve, server.get());
  return server;
}

MetricsServer::~MetricsServer() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  if (write(wake_.Get(), &one, sizeof one) != sizeof one) std::terminate();  // cannot fail on a fresh eventfd
  thread_.join();
}

void MetricsServer::Serve() {
  std::vector<pollfd> polled;
  for (;;) {
    const Clock::time_point now = Clock::now();
    Clock::time_point wakeAt = now + std::chrono::seconds(60);
    polled.assign({{wake_.Get(), POLLIN, 0}, {now >= acceptPausedUntil_ ? listener_.Get() : -1, POLLIN, 0}});
    if (now < acceptPausedUntil_) wakeAt = acceptPausedUntil_;
    for (const Exchange& exchange : exchanges_) {
      polled.push_back({exchange.fd.Get(), static_cast<short>(exchange.answer.empty() ? POLLIN : POLLOUT), 0});
      wakeAt = std::min(wakeAt, exchange.deadline);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(wakeAt - now, Clock::duration::zero()));
    if (poll(polled.data(), polled.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) return;
    if (polled[0].revents != 0) return;
    // Those already here first, so that a request that has arrived is answered before newcomers
    // can push it out.
    const Clock::time_point checked = Clock::now();
    auto ready = polled.begin() + 2;
    for (auto exchange = exchanges_.begin(); exchange != exchanges_.end(); ++ready) {
      const bool keep = (ready->revents == 0 || Advance(*exchange)) && checked < exchange->deadline;
      exchange = keep ? std::next(exchange) : exchanges_.erase(exchange);
    }
    if (polled[1].revents != 0) AcceptNew();
  }
}

void MetricsServer::AcceptNew() {
  for (int round = 0; round < kListenBacklog; ++round) {
    UniqueFd fd(accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.Valid()) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        acceptPausedUntil_ = Clock::now() + std::chrono::milliseconds(100);
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (exchanges_.size() >= limits_.maxConnections) {
      const auto waiting = std::find_if(exchanges_.begin(), exchanges_.end(),
                                        [](const Exchange& exchange) { return exchange.answer.empty(); });
      if (waiting == exchanges_.end()) continue;  // every one is being answered: refused
      exchanges_.erase(waiting);
    }
    exchanges_.push_back({std::move(fd), Clock::now() + limits_.requestTimeout, {}, {}, 0});
  }
}

bool MetricsServer::Advance(Exchange& exchange) {
  if (exchange.answer.empty()) {
    char buffer[2048];
    const std::size_t room = std::min(sizeof buffer, kMaxRequestHead - exchange.request.size());
    const ssize_t got = recv(exchange.fd.Get(), buffer, room, 0);
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    if (got == 0) return false;  // gone before asking
    exchange.request.append(buffer, static_cast<std::size_t>(got));
    if (HeadIsWhole(exchange.request)) {
      exchange.answer = Answer(exchange.request, router_);
    } else if (exchange.request.size() == kMaxRequestHead) {
      exchange.answer = Response("431 Request Header Fields Too Large", "", "");
    } else {
      return true;
    }
    exchange.deadline = Clock::now() + limits_.requestTimeout;
  }
  const ssize_t sent =
      send(exchange.fd.Get(), exchange.answer.data() + exchange.sent, exchange.answer.size() - exchange.sent,
           MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0) return errno == EAGAIN || errno == EINTR;
  exchange.sent += static_cast<std::size_t>(sent);
  return exchange.sent < exchange.answer.size();
}

}  // namespace Korvane::Pictora::Host
