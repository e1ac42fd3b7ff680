// The services file's format, with its one reader and its one writer: the core reads it to learn
// which services exist, the service store reads, changes and writes it back whole.
//
// The file: the declaration and a line break, "<Pictora><Server><Services>" and a line break,
// each entry as a Service element of one child per field followed by a line break, and
// "</Services></Server></Pictora>" with a line break. An entry's fields keep their order; a
// field holding markup (Properties) is written as it stands, any other as escaped text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "global/NameValueMap.h"
#include "util/Status.h"

namespace Korvane::Pictora::ServerCore {

struct ServiceEntry {
  // Name (normal form), Source, State ("On"/"Off", missing: on), Properties (markup) and
  // ServiceProviders (names separated by ";", empty: every configured provider), in file order.
  Global::NameValueMap fields;
  // The text of Properties/Application, as the file holds it.
  std::string application;
};

using ServiceEntries = std::vector<ServiceEntry>;

class ServicesDocument {
 public:
  static constexpr const char* kFileName = "Pictora.Services";
  // What a new installation starts with: no services.
  static const std::string& EmptyText();

  // The entries of a services text, parsed once. False when it is no document; the parser's
  // reason is then in status.
  static bool Parse(std::string_view text, ServiceEntries& entries, GeneralUtilityLib::Status& status);
  static bool Read(const std::string& path, ServiceEntries& entries, GeneralUtilityLib::Status& status);

  static std::string Render(const ServiceEntries& entries);
  // False when a new entry would make the file one that cannot be read back (markup nested
  // too deeply); the reason is in status.
  static bool Fits(const Global::NameValueMap& fields, GeneralUtilityLib::Status& status);
};

}  // namespace Korvane::Pictora::ServerCore
