// The open sessions by identifier (ordered like every registry key). A caller that found a
// session keeps it alive through its shared_ptr even when another call closes it meanwhile.
// Not thread-safe: the core uses it under its registry lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "servercore/RegistryKeyLess.h"
#include "servercore/Session.h"

namespace Korvane::Pictora::ServerCore {

class SessionTable {
 public:
  void Add(std::shared_ptr<Session> session);
  std::shared_ptr<Session> Find(std::string_view sessionId) const;
  // False when no session has that identifier.
  bool Close(std::string_view sessionId);
  void CloseAll() { sessions_.clear(); }
  std::size_t Size() const { return sessions_.size(); }

 private:
  std::map<std::string, std::shared_ptr<Session>, RegistryKeyLess> sessions_;
};

}  // namespace Korvane::Pictora::ServerCore
