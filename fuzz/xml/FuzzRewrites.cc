// Documents the server rewrites, read and written back the way the server does it: the server
// configuration (its Config values and allow lists) and the services file. Whatever the text,
// the rewritten document must parse, hold the same elements, and give the same values again;
// a value must never come back as markup of its own. The first byte picks the document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "servercore/ConfigurationFile.h"
#include "servercore/ServicesDocument.h"
#include "util/XmlDocument.h"

namespace {

using namespace Korvane::Pictora;
namespace GU = GeneralUtilityLib;

void Check(bool holds) {
  if (!holds) ::abort();
}

void RewriteConfiguration(const std::string& text) {
  GU::XmlDocument document;
  if (!document.LoadXml(text)) return;
  GU::ElementList config = GU::NodesToList(document, "//Pictora/Server/Config/*");
  const GU::ElementList allowLists = GU::NodesToList(document, "//LicenseManager/*");
  GU::XmlDocument rewritten;
  Check(rewritten.LoadXml(ServerCore::ConfigurationText("<?xml version=\"1.0\"?>", "<X_DEF></X_DEF>", config, allowLists)));
  GU::ElementList reread = GU::NodesToList(rewritten, "//Pictora/Server/Config/*");
  // The allow lists are written in the LicenseManager element's place, from their own list.
  config.Remove("LicenseManager");
  reread.Remove("LicenseManager");
  Check(reread.Pairs() == config.Pairs());
  Check(GU::NodesToList(rewritten, "//LicenseManager/*").Pairs() == allowLists.Pairs());
}

bool SameFields(const ServerCore::ServiceEntries& a, const ServerCore::ServiceEntries& b, bool values) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto& left = a[i].fields.Pairs();
    const auto& right = b[i].fields.Pairs();
    if (left.size() != right.size()) return false;
    for (std::size_t j = 0; j < left.size(); ++j) {
      if (left[j].first != right[j].first || (values && left[j].second != right[j].second)) return false;
    }
  }
  return true;
}

void RewriteServices(const std::string& text) {
  GU::Status ignored;
  ServerCore::ServiceEntries read;
  if (!ServerCore::ServicesDocument::Parse(text, read, ignored)) return;
  // Markup values (Properties) come back in the layer's printed form after one rewrite; from then
  // on every value stays as it is.
  ServerCore::ServiceEntries once, twice;
  Check(ServerCore::ServicesDocument::Parse(ServerCore::ServicesDocument::Render(read), once, ignored));
  Check(SameFields(read, once, false));
  Check(ServerCore::ServicesDocument::Parse(ServerCore::ServicesDocument::Render(once), twice, ignored));
  Check(SameFields(once, twice, true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    RewriteConfiguration(text);
  } else {
    RewriteServices(text);
  }
  return 0;
}
