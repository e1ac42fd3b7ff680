#include "util/ElementList.h"

#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::GeneralUtilityLib {
namespace {

// Escaped as the XML layer escapes text, and further what a parser would not give back as it
// was: a carriage return (read back as a line feed) and a value of white space alone (dropped).
void AppendValue(std::string& xml, std::string_view value) {
  value = value.substr(0, value.find('\0'));
  const bool blank = !value.empty() && value.find_first_not_of(" \t\n\r") == std::string_view::npos;
  std::size_t plain = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (!blank && value[i] != '\r') continue;
    AppendEscapedXmlText(xml, value.substr(plain, i - plain));
    xml += "&#" + std::to_string(static_cast<unsigned char>(value[i])) + ";";
    plain = i + 1;
  }
  AppendEscapedXmlText(xml, value.substr(plain));
}

}  // namespace

std::string& ElementList::operator[](std::string_view name) {
  const auto found = FindPair(name);
  if (found == pairs_.end()) {
    pairs_.emplace_back(std::string(name), std::string());
    index_.Appended(pairs_);
    return pairs_.back().second;
  }
  found->second = Trim(found->second);
  return found->second;
}

bool ElementList::Contains(std::string_view name) const { return FindPair(name) != pairs_.end(); }

bool ElementList::Remove(std::string_view name) {
  const auto found = FindPair(name);
  if (found == pairs_.end()) return false;
  pairs_.erase(found);
  index_.Rebuild(pairs_);
  return true;
}

std::string ElementList::GetString(std::string_view name, std::string_view defaultValue) const {
  const auto found = FindPair(name);
  std::string value = found == pairs_.end() ? std::string() : Trim(found->second);
  return value.empty() ? Trim(defaultValue) : value;
}

bool ElementList::GetBool(std::string_view name, bool defaultValue) const {
  return ParseBool(GetString(name, {}), defaultValue);
}

bool ElementList::Merge(const ElementList& source, bool skipEmpty, std::string_view prefix,
                        std::string_view suffix) {
  // Copy first: source may be this very list, which get-or-add can grow.
  const std::vector<Pair> pairs = source.pairs_;
  for (const Pair& pair : pairs) {
    if (skipEmpty && pair.second.empty()) continue;
    std::string name;
    name.append(prefix).append(pair.first).append(suffix);
    (*this)[name] = pair.second;
  }
  return true;
}

std::string ElementList::ToXml(std::string_view rootName) const {
  const std::string root(rootName);
  std::string xml;
  if (!root.empty()) xml += Format("<%s>", root.c_str());
  xml += ListToXml(*this);
  if (!root.empty()) xml += Format("</%s>", root.c_str());
  return xml;
}

std::vector<ElementList::Pair>::iterator ElementList::FindPair(std::string_view name) {
  const std::optional<std::size_t> position = index_.Find(pairs_, name);
  return position ? pairs_.begin() + static_cast<std::ptrdiff_t>(*position) : pairs_.end();
}

std::vector<ElementList::Pair>::const_iterator ElementList::FindPair(std::string_view name) const {
  const std::optional<std::size_t> position = index_.Find(pairs_, name);
  return position ? pairs_.begin() + static_cast<std::ptrdiff_t>(*position) : pairs_.end();
}

std::string ListToXml(const ElementList& list, std::string_view indent) {
  std::string xml;
  for (const ElementList::Pair& pair : list.Pairs()) {
    xml.append(indent).append("<").append(pair.first).append(">");
    AppendValue(xml, pair.second);
    xml.append("</").append(pair.first).append(">\n");
  }
  return xml;
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
