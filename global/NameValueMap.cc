#include "global/NameValueMap.h"

#include <algorithm>
#include <cctype>

#include "util/XmlDocument.h"

namespace Korvane::Pictora::Global {

namespace GU = GeneralUtilityLib;

namespace {

unsigned char LowerAscii(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
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

// Whether a value is markup to be written as it stands: it holds at least one element and reads
// back inside an element as the reader takes documents (its options, its nesting limit). A
// fragment that parses on its own may not: a declaration, a document type or a trailing "<" is
// taken at a fragment's top level but not inside an element. Whether the whole document stays
// within the nesting limit is for its writer to check, where the depth is known.
bool IsMarkup(std::string_view value) {
  if (value.find('<') == std::string_view::npos || !EveryAmpersandIsAReference(value)) {
    return false;
  }
  GU::XmlDocument document;
  return document.LoadXml("<v>" + std::string(value) + "</v>") && document.CountNodes("/v/*") > 0;
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
