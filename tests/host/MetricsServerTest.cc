#include "host/MetricsServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <thread>
#include <vector>

namespace Korvane::Pictora::Host {
namespace {

using namespace std::chrono_literals;
using DceRpc::Clock;
using DceRpc::UniqueFd;

class MetricsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    HttpRouter router;
    router.Get("/metrics", [] { return HttpReply{200, "text/plain; version=0.0.4; charset=utf-8", "pictora_up 1\n", {}}; });
    router.Get("/down", [] { return HttpReply{503, "application/json", "{}", {}}; });
    router.Get("/broken", []() -> HttpReply { throw std::runtime_error("no page"); });
    server_ = MetricsServer::Start("127.0.0.1:0", std::move(router), error, {500ms, 16});
    ASSERT_TRUE(server_) << error;
  }

  UniqueFd Connect(std::string_view sent = "") const {
    UniqueFd fd = std::move(DceRpc::ConnectTcp("127.0.0.1", server_->Port(), 1s).fd);
    EXPECT_EQ(send(fd.Get(), sent.data(), sent.size(), MSG_NOSIGNAL), static_cast<ssize_t>(sent.size()));
    return fd;
  }

  // What the server sends until it closes the connection, or "open" if it has not within a second.
  static std::string Received(const UniqueFd& fd) {
    std::string text;
    char buffer[4096];
    pollfd polled{fd.Get(), POLLIN, 0};
    for (const auto deadline = Clock::now() + 1s; Clock::now() < deadline && poll(&polled, 1, 50) >= 0;) {
      const ssize_t got = recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno == ECONNRESET)) return text;  // reset: it had unread bytes
      if (got > 0) text.append(buffer, static_cast<size_t>(got));
    }
    return "open";
  }

  std::unique_ptr<MetricsServer> server_;
};

TEST_F(MetricsServerTest, AnswersItsRoutesToGetOnly) {
  const std::pair<std::string, std::string> refused[] = {
      {"GET /down HTTP/1.1\r\n\r\n", "HTTP/1.1 503 "},
      {"GET /broken HTTP/1.1\r\n\r\n", "HTTP/1.1 500 "},
      {"GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", "HTTP/1.1 405 "},
      {"GET /metrics\r\n\r\n", "HTTP/1.1 400 "},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'x'), "HTTP/1.1 431 "}};
  for (const auto& [request, status] : refused) EXPECT_EQ(Received(Connect(request)).substr(0, 13), status);
}

TEST_F(MetricsServerTest, SlowAndIdleConnectionsNeitherHoldUpAScrapeNorStay) {
  std::vector<UniqueFd> held;  // twice the cap: the oldest make room for the newest
  for (int i = 0; i < 32; ++i) held.push_back(Connect(i % 2 == 0 ? "GET /metrics HTTP/1.1\r\n" : ""));
  const auto started = Clock::now();
  EXPECT_EQ(Received(Connect("GET /metrics?x HTTP/1.1\nHost: a\n\n")),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: 13\r\n"
            "Connection: close\r\n\r\npictora_up 1\n");
  EXPECT_LT(Clock::now() - started, 1s);

  // The whole head must arrive in time: a line every 100 ms does not keep a connection.
  UniqueFd trickler = Connect("GET /metrics HTTP/1.1\r\n");
  bool closed = false;
  while (!closed && Clock::now() - started < 3s) {
    send(trickler.Get(), "X: y\r\n", 6, MSG_NOSIGNAL);
    std::this_thread::sleep_for(100ms);
    char byte;
    const ssize_t got = recv(trickler.Get(), &byte, 1, MSG_DONTWAIT);
    closed = got == 0 || (got < 0 && errno == ECONNRESET);
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(Clock::now() - started, 1500ms);
  for (const UniqueFd& fd : held) EXPECT_EQ(Received(fd), "");
}

}  // namespace
}  // namespace Korvane::Pictora::Host
