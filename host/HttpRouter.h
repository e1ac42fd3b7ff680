// The metrics server's routes: a handler for each path it serves, all of them GET. The router only
// finds the handler; the server answers 404 for a path it does not know, 405 for another method.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace Korvane::Pictora::Host {

struct HttpReply {
  int status = 200;  // 200, 503 or 500: the server writes the reason phrase
  std::string contentType;
  std::string body;
  std::string headers;  // more header lines, each ending in CRLF
};

class HttpRouter {
 public:
  using Handler = std::function<HttpReply()>;

  // A path served; the handler runs on the server's thread, so it must be safe there and quick.
  HttpRouter& Get(std::string path, Handler handler);
  // Null for a path not served (any query already cut off).
  const Handler* Find(std::string_view path) const;

 private:
  std::map<std::string, Handler, std::less<>> routes_;
};

}  // namespace Korvane::Pictora::Host
