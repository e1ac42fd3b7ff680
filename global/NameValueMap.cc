#include "global/NameValueMap.h"

#include <algorithm>
#include <cctype>

#include <pugixml.hpp>

#include "util/XmlDocument.h"

namespace Korvane::Pictora::Global {

namespace GU = GeneralUtilityLib;

namespace {

// The document layer's own settings, so that markup read here reads and prints like markup
// read anywhere else in the system. Texts are bytes: no encoding is guessed or converted.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi;

unsigned char LowerAscii(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

bool HasElementChild(const pugi::xml_node& node) {
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_element) return true;
  }
  return false;
}

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.' ||
         c == ':' || c == '#';
}

// The parser lets a bare "&" through as text; markup written raw must not hold one, or it
// would not read back as the same value.
bool EveryAmpersandIsAReference(std::string_view text) {
  for (std::size_t at = text.find('&'); at != std::string_view::npos;
       at = text.find('&', at + 1)) {
    std::size_t end = at + 1;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    if (end == at + 1 || end >= text.size() || text[end] != ';') return false;
  }
  return true;
}

// A declaration or a document type may stand at a fragment's top level but not inside an
// element, where a value is written.
bool HasDocumentLevelNode(const pugi::xml_node& fragment) {
  for (const pugi::xml_node& child : fragment.children()) {
    if (child.type() == pugi::node_declaration || child.type() == pugi::node_doctype) return true;
  }
  return false;
}

// Whether a value is markup to be written as it stands: a well-formed fragment with at least
// one element at its top level, and nothing that only a whole document may hold.
bool IsMarkup(std::string_view value) {
  if (value.find('<') == std::string_view::npos || !EveryAmpersandIsAReference(value)) {
    return false;
  }
  pugi::xml_document fragment;
  const pugi::xml_parse_result parsed =
      fragment.load_buffer(value.data(), value.size(),
                           kParseOptions | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_fragment,
                           pugi::encoding_utf8);
  return parsed && HasElementChild(fragment) && !HasDocumentLevelNode(fragment);
}

std::string EscapeText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

bool CaseInsensitiveStringComparer::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

std::string& NameValueMap::operator[](std::string_view name) {
  if (const std::optional<std::size_t> position = index_.Find(pairs_, name)) return pairs_[*position].second;
  pairs_.emplace_back(std::string(name), std::string());
  index_.Appended(pairs_);
  return pairs_.back().second;
}

std::string NameValueMap::Get(std::string_view name) const {
  const std::optional<std::size_t> position = index_.Find(pairs_, name);
  return position ? pairs_[*position].second : std::string();
}

bool NameValueMap::Contains(std::string_view name) const { return index_.Find(pairs_, name).has_value(); }

bool NameValueMap::Erase(std::string_view name) {
  const std::optional<std::size_t> position = index_.Find(pairs_, name);
  if (!position) return false;
  pairs_.erase(pairs_.begin() + static_cast<std::ptrdiff_t>(*position));
  index_.Rebuild(pairs_);
  return true;
}

int NameValueMap::LoadXml(std::string_view text, std::string_view xpath) {
  GU::XmlDocument document;
  return document.LoadXml(text) ? LoadSelected(document, xpath) : 0;
}

int NameValueMap::LoadFile(const std::string& path, std::string_view xpath) {
  GU::XmlDocument document;
  return document.LoadFile(path) ? LoadSelected(document, xpath) : 0;
}

int NameValueMap::LoadSelected(GU::XmlDocument& document, std::string_view xpath) {
  return document.SelectNode(xpath, 0) ? LoadCurrent(document) : 0;
}

int NameValueMap::LoadCurrent(GU::XmlDocument& document) {
  auto children = document.GetChildValues();
  if (!children) return 0;
  NameValueMap loaded;
  for (auto& [name, value] : *children) loaded[name] = std::move(value);
  pairs_ = std::move(loaded.pairs_);
  index_ = std::move(loaded.index_);
  return 1;
}

std::string NameValueMap::ToXmlString(std::string_view elementName) const {
  std::string xml = "<" + std::string(elementName) + ">";
  for (const Pair& pair : pairs_) {
    xml += "<" + pair.first + ">";
    xml += IsMarkup(pair.second) ? pair.second : EscapeText(pair.second);
    xml += "</" + pair.first + ">";
  }
  xml += "</" + std::string(elementName) + ">";
  return xml;
}

}  // namespace Korvane::Pictora::Global
