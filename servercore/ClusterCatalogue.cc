#include "servercore/ClusterCatalogue.h"

namespace Korvane::Pictora::ServerCore {
IServicesCatalogue::Outcome ClusterCatalogue::Read(std::string& text, std::int64_t& version, std::string& error) {
  if (writer_.ReadCatalogue(text, version, error) == ClusterWriter::Result::kDone) return Outcome::kDone;
  replica_.NoteUnreachable(error);
  return Outcome::kUnreachable;
}

IServicesCatalogue::Outcome ClusterCatalogue::Save(const std::string& text, std::int64_t version, std::string& error) {
  std::int64_t revision = 0;
  switch (writer_.SaveCatalogue(text, version, revision, error)) {
    case ClusterWriter::Result::kDone:
      if (replica_.Arrived(revision)) return Outcome::kDone;
      error = "the saved catalogue could not be read back here";
      return Outcome::kUnreachable;
    case ClusterWriter::Result::kUnreachable:
      replica_.NoteUnreachable(error);
      return Outcome::kUnreachable;
    default:
      return Outcome::kChanged;
  }
}

}  // namespace Korvane::Pictora::ServerCore
