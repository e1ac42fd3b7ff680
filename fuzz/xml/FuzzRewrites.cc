// Documents the server rewrites (the configuration, the services file; the first byte picks one),
// read and written back as the server does: whatever the text, the rewritten document parses and
// holds the same elements with the same values; no value comes back as markup of its own.
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
  Check(reread.Pairs() == config.Pairs() &&
        GU::NodesToList(rewritten, "//LicenseManager/*").Pairs() == allowLists.Pairs());
}

void RewriteServices(const std::string& text) {
  using ServerCore::ServicesDocument;
  GU::Status ignored;
  ServerCore::ServiceEntries read, once, twice;
  if (!ServicesDocument::Parse(text, read, ignored)) return;
  // Markup values (Properties) come back in the layer's printed form after one rewrite; from then
  // on every value stays as it is.
  Check(ServicesDocument::Parse(ServicesDocument::Render(read), once, ignored) && once.size() == read.size());
  Check(ServicesDocument::Parse(ServicesDocument::Render(once), twice, ignored) && twice.size() == once.size());
  for (std::size_t i = 0; i < once.size(); ++i) {
    Check(once[i].fields.Size() == read[i].fields.Size() && twice[i].fields.Pairs() == once[i].fields.Pairs());
  }
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
