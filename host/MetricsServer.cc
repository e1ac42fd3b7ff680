#include "host/MetricsServer.h"

#include <civetweb.h>

#include <cstring>

#include "global/Installation.h"

namespace Korvane::Pictora::Host {

std::string ConfiguredMetricsEndpoint() {
  return Global::FindInstallationValue("MetricsEndpoint").value_or("127.0.0.1:9382");
}

std::unique_ptr<MetricsServer> MetricsServer::Start(const std::string& endpoint, Render render, std::string& error) {
  static const unsigned initialised = mg_init_library(0);
  (void)initialised;
  std::unique_ptr<MetricsServer> server(new MetricsServer(std::move(render)));
  const char* options[] = {"listening_ports",    endpoint.c_str(), "num_threads", "2",
                           "request_timeout_ms", "10000",          nullptr};
  mg_callbacks callbacks{};
  mg_init_data init{&callbacks, server.get(), options};
  char text[256] = "";
  unsigned code = 0;
  mg_error_data failure{&code, text, sizeof text};
  server->context_ = mg_start2(&init, &failure);
  if (server->context_ == nullptr) {
    error = text[0] != '\0' ? text : "the HTTP server did not start";
    return nullptr;
  }
  // "/" takes every path, so nothing but the page is ever answered.
  mg_set_request_handler(server->context_, "/", &MetricsServer::Answer, server.get());
  return server;
}

MetricsServer::~MetricsServer() {
  if (context_ != nullptr) mg_stop(context_);
}

uint16_t MetricsServer::Port() const {
  mg_server_port ports[1]{};
  return mg_get_server_ports(context_, 1, ports) > 0 ? static_cast<uint16_t>(ports[0].port) : 0;
}

int MetricsServer::Answer(mg_connection* connection, void* self) {
  const mg_request_info* request = mg_get_request_info(connection);
  if (request->local_uri == nullptr || std::strcmp(request->local_uri, "/metrics") != 0) {
    mg_send_http_error(connection, 404, "Not found: the metrics page is /metrics");
    return 404;
  }
  if (std::strcmp(request->request_method, "GET") != 0) {
    mg_printf(connection, "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET\r\nContent-Length: 0\r\n\r\n");
    return 405;
  }
  std::string page;
  try {
    page = static_cast<MetricsServer*>(self)->render_();
  } catch (...) {
    // Nothing may unwind through civetweb's C frames.
    mg_send_http_error(connection, 500, "The metrics page could not be built");
    return 500;
  }
  mg_send_http_ok(connection, "text/plain; version=0.0.4; charset=utf-8", static_cast<long long>(page.size()));
  mg_write(connection, page.data(), page.size());
  return 200;
}

}  // namespace Korvane::Pictora::Host
