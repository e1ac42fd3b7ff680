// The metrics page over HTTP (civetweb) on the operator's MetricsEndpoint: GET /metrics answers
// the text `render` gives; any other path is 404, any other method 405. civetweb serves on two
// threads of its own; the page is built on them, so `render` must be safe on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct mg_context;
struct mg_connection;

namespace Korvane::Pictora::Host {

// "address:port" from the installation key's MetricsEndpoint; "127.0.0.1:9382" when the value is
// missing, empty text (off) when it is written empty.
std::string ConfiguredMetricsEndpoint();

class MetricsServer {
 public:
  using Render = std::function<std::string()>;

  // Nothing when the endpoint cannot be served; error says why.
  static std::unique_ptr<MetricsServer> Start(const std::string& endpoint, Render render, std::string& error);
  ~MetricsServer();  // stops serving; waits for a request in progress
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The TCP port served (the endpoint may have asked for 0).
  uint16_t Port() const;

 private:
  explicit MetricsServer(Render render) : render_(std::move(render)) {}
  static int Answer(mg_connection* connection, void* self);

  Render render_;
  mg_context* context_ = nullptr;
};

}  // namespace Korvane::Pictora::Host
