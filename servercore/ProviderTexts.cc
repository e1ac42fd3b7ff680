#include "servercore/ProviderTexts.h"

#include "servercore/RegistryKeyLess.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kServiceElements = "//ImageServices/Service";

bool Load(GU::XmlDocument& document, std::string_view xml, GU::Status& status) {
  if (document.LoadXml(xml)) return true;
  status.AddAll(document.GetStatus());
  return false;
}

ServiceElement ReadServiceElement(std::string markup) {
  ServiceElement element;
  GU::XmlDocument document;
  // An element holding text alone gives that text, which does not load: it names no service.
  if (!document.LoadXml(markup)) return element;
  element.name = NormalizeServiceName(document.GetText("//Service/Name", ""));
  if (document.SelectNode("//Service/Status", 0)) element.statusMarkup = document.GetNodeXml();
  element.properties = GU::NodesToList(document, "//*");
  element.markup = std::move(markup);
  return element;
}

// Calls `read` on the document positioned at each Service element. One selection walked by
// index: a query per element would make a large document quadratic.
template <typename Read>
bool ForEachServiceElement(std::string_view xml, GU::Status& status, Read read) {
  GU::XmlDocument document;
  if (!Load(document, xml, status)) return false;
  const long count = document.CountChildren("//ImageServices");
  for (long i = 0; i < count; ++i) {
    if (document.SelectNode(kServiceElements, static_cast<std::size_t>(i))) read(document);
  }
  return true;
}

}  // namespace

bool ReadProviderValues(std::string_view xml, ProviderValues& values, GU::Status& status) {
  GU::XmlDocument document;
  if (!Load(document, xml, status)) return false;
  values.config = GU::NodesToList(document, "//Config/*");
  values.dynamic = GU::NodesToList(document, "//Dynamic/*");
  return true;
}

bool ReadServiceElements(std::string_view xml, std::vector<ServiceElement>& elements, GU::Status& status) {
  return ForEachServiceElement(xml, status, [&](GU::XmlDocument& document) {
    elements.push_back(ReadServiceElement(document.GetNodeContent("")));
  });
}

bool ReadServiceNames(std::string_view xml, std::vector<std::string>& names, GU::Status& status) {
  return ForEachServiceElement(xml, status, [&](GU::XmlDocument& document) {
    GU::XmlDocument service;
    GU::ElementList values;
    if (service.LoadXml(document.GetNodeXml())) values = GU::NodesToList(service, "/Service/*");
    names.push_back(values.GetValue("Name"));
  });
}

}  // namespace Korvane::Pictora::ServerCore
