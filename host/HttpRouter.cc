#include "host/HttpRouter.h"

namespace Korvane::Pictora::Host {

HttpRouter& HttpRouter::Get(std::string path, Handler handler) {
  routes_[std::move(path)] = std::move(handler);
  return *this;
}

const HttpRouter::Handler* HttpRouter::Find(std::string_view path) const {
  const auto found = routes_.find(path);
  return found == routes_.end() ? nullptr : &found->second;
}

}  // namespace Korvane::Pictora::Host
