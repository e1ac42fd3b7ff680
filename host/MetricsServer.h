// The metrics server over HTTP on the operator's MetricsEndpoint: a GET of a path the router knows
// answers what its handler gives (the metrics page, the probes, the JSON API, the status page);
// any other path is 404, any other method 405. One thread of its own serves every connection from
// a poll loop and runs the handlers there, so they must be safe on any thread and quick.
//
// Slow or idle peers cannot hold it up: a request's head (at most 8 KiB) must arrive whole within
// the request time-out of the connection being accepted, and its answer be taken within as long
// again; every answer closes its connection, so none idles between requests; and at the connection
// cap the oldest connection still sending its request is dropped to make room for a new one (only
// when every connection is being answered is a new one refused).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "dcerpc/Socket.h"
#include "host/HttpRouter.h"

namespace Korvane::Pictora::Host {

// "address:port" from the installation key's MetricsEndpoint; "127.0.0.1:9382" when the value is
// missing, empty text (off) when it is written empty.
std::string ConfiguredMetricsEndpoint();

struct MetricsLimits {
  std::chrono::milliseconds requestTimeout{2000};
  std::size_t maxConnections = 32;
};

class MetricsServer {
 public:
  // Nothing when the endpoint ("address:port", "[v6 address]:port" or a port for every IPv4
  // address) cannot be served; error says why.
  static std::unique_ptr<MetricsServer> Start(const std::string& endpoint, HttpRouter router, std::string& error,
                                              MetricsLimits limits = {});
  ~MetricsServer();  // stops serving; waits for an answer being built
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The TCP port served (the endpoint may have asked for 0).
  uint16_t Port() const { return port_; }

 private:
  // One connection: its request coming in, then its answer going out.
  struct Exchange {
    DceRpc::UniqueFd fd;
    DceRpc::Clock::time_point deadline;
    std::string request;  // the head so far
    std::string answer;   // once the head is whole
    std::size_t sent = 0;
  };

  MetricsServer(HttpRouter router, MetricsLimits limits);
  void Serve();
  void AcceptNew();
  bool Advance(Exchange& exchange);  // false: done with it

  const HttpRouter router_;
  const MetricsLimits limits_;
  DceRpc::UniqueFd listener_;
  DceRpc::UniqueFd wake_;  // an eventfd; written once to stop
  uint16_t port_ = 0;
  std::deque<Exchange> exchanges_;  // oldest first; the serving thread's alone
  DceRpc::Clock::time_point acceptPausedUntil_;  // out of descriptors: accept later
  std::thread thread_;
};

}  // namespace Korvane::Pictora::Host
