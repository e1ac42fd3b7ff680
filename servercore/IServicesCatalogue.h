// The services catalogue when several servers share it: the services file's text, read with a
// version and saved only over the version read, so two servers changing it at once cannot undo
// each other's change. A single server has none: its file is the catalogue.
#pragma once

#include <cstdint>
#include <string>

namespace Korvane::Pictora::ServerCore {

class IServicesCatalogue {
 public:
  enum class Outcome { kDone, kChanged, kUnreachable };
  virtual ~IServicesCatalogue() = default;
  // version 0: there is no catalogue yet.
  virtual Outcome Read(std::string& text, std::int64_t& version, std::string& error) = 0;
  // kChanged: another server saved since version was read; nothing was saved.
  virtual Outcome Save(const std::string& text, std::int64_t version, std::string& error) = 0;
};

}  // namespace Korvane::Pictora::ServerCore
