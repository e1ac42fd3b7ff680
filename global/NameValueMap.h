// Name/value strings with case-insensitive names, kept in insertion order. A plain value type;
// not thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/NameIndex.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Global {

// Orders strings ignoring ASCII case.
struct CaseInsensitiveStringComparer {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class NameValueMap {
 public:
  using Pair = std::pair<std::string, std::string>;

  // The value of the entry whose name matches ignoring case; a new empty entry when none.
  std::string& operator[](std::string_view name);
  // The value, or empty text when missing (does not add an entry).
  std::string Get(std::string_view name) const;
  bool Contains(std::string_view name) const;
  bool Erase(std::string_view name);
  void Clear() {
    pairs_.clear();
    index_.Rebuild(pairs_);
  }
  std::size_t Size() const { return pairs_.size(); }
  bool Empty() const { return pairs_.empty(); }
  const std::vector<Pair>& Pairs() const { return pairs_; }

  // Parses an XML text and replaces the pairs with the children of the first element the
  // XPath selects ("//Service", "//Config", ...). A child holding only
  // text gives its text; a child holding elements gives its inner markup, so that markup values
  // such as Properties survive a round trip. A later child of the same name (ignoring case)
  // overwrites the earlier value. Nonzero on success; 0 on failure, the pairs then unchanged.
  int LoadXml(std::string_view text, std::string_view xpath);
  // The same from a file.
  int LoadFile(const std::string& path, std::string_view xpath);
  // The same from the current node of a document already parsed.
  int LoadCurrent(GeneralUtilityLib::XmlDocument& document);
  // "<name>" + one "<key>value</key>" per pair in order + "</name>". A value that is well-formed
  // markup (such as Properties) is written as it stands; any other value is escaped as text.
  std::string ToXmlString(std::string_view elementName) const;

 private:
  int LoadSelected(GeneralUtilityLib::XmlDocument& document, std::string_view xpath);

  std::vector<Pair> pairs_;
  GeneralUtilityLib::NameIndex index_;
};

}  // namespace Korvane::Pictora::Global
