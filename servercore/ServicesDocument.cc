#include "servercore/ServicesDocument.h"

#include "servercore/RegistryKeyLess.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kHead = "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n";
constexpr const char* kTail = "</Services></Server></Pictora>";
constexpr const char* kEntries = "//Services/*";

// The entry at the document's current node. A child of Services that is no Service element
// counts by the first Service element inside it, as a selection of "//Service" in its own
// markup would find it.
bool CurrentEntry(GU::XmlDocument& document, ServiceEntry& entry) {
  if (document.GetNodeName() == "Service") {
    if (entry.fields.LoadCurrent(document) == 0) return false;
  } else if (entry.fields.LoadXml(document.GetNodeXml(), "//Service") == 0) {
    return false;
  }
  entry.application = document.GetTextBelow("Properties/Application", "");
  if (entry.fields.Contains("Name")) entry.fields["Name"] = NormalizeServiceName(entry.fields.Get("Name"));
  return true;
}

bool Entries(GU::XmlDocument& document, ServiceEntries& entries) {
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode(kEntries, static_cast<std::size_t>(i))) continue;
    ServiceEntry entry;
    if (CurrentEntry(document, entry)) entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace

const std::string& ServicesDocument::EmptyText() {
  static const std::string text = std::string(kHead) + kTail;
  return text;
}

bool ServicesDocument::Parse(std::string_view text, ServiceEntries& entries, GU::Status& status) {
  GU::XmlDocument document;
  if (document.LoadXml(text)) return Entries(document, entries);
  status.AddAll(document.GetStatus());
  return false;
}

bool ServicesDocument::Read(const std::string& path, ServiceEntries& entries, GU::Status& status) {
  GU::XmlDocument document;
  if (!path.empty() && document.LoadFile(path)) return Entries(document, entries);
  status.AddAll(document.GetStatus());
  return false;
}

std::string ServicesDocument::Render(const ServiceEntries& entries) {
  std::string text = kHead;
  for (const ServiceEntry& entry : entries) text += entry.fields.ToXmlString("Service") + "\n";
  return text + kTail + "\n";
}

bool ServicesDocument::Fits(const Global::NameValueMap& fields, GU::Status& status) {
  // Parsed at the depth it will have in the file.
  GU::XmlDocument document;
  if (document.LoadXml("<Pictora><Server><Services>" + fields.ToXmlString("Service") + kTail)) return true;
  status.AddAll(document.GetStatus());
  return false;
}

}  // namespace Korvane::Pictora::ServerCore
