// Ordered name/value text pairs with case-insensitive lookup.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/NameIndex.h"

namespace Korvane::Pictora::GeneralUtilityLib {

class ElementList {
 public:
  using Pair = std::pair<std::string, std::string>;

  // Get-or-add: the value of the first entry whose name matches ignoring case, trimmed in
  // place; when none matches a new entry (name as passed, empty value) is appended.
  std::string& operator[](std::string_view name);

  std::size_t Size() const { return pairs_.size(); }
  bool Empty() const { return pairs_.empty(); }
  void Clear() {
    pairs_.clear();
    index_.Rebuild(pairs_);
  }
  bool Contains(std::string_view name) const;
  bool Remove(std::string_view name);

  // Trimmed value of the first match; the trimmed default when missing or empty.
  std::string GetString(std::string_view name, std::string_view defaultValue) const;
  std::string GetValue(std::string_view name) const { return GetString(name, {}); }
  bool GetBool(std::string_view name, bool defaultValue) const;

  // For every source pair (skipping empty values when skipEmpty): get-or-add
  // prefix + name + suffix and assign the value. Always true.
  bool Merge(const ElementList& source, bool skipEmpty = false, std::string_view prefix = {},
             std::string_view suffix = {});
  // "<root>" + "<name>value</name>\n" for each pair + "</root>"; no wrapper for an empty root.
  std::string ToXml(std::string_view rootName) const;

  const std::vector<Pair>& Pairs() const { return pairs_; }

 private:
  std::vector<Pair>::iterator FindPair(std::string_view name);
  std::vector<Pair>::const_iterator FindPair(std::string_view name) const;

  std::vector<Pair> pairs_;
  NameIndex index_;
};

// indent + "<name>value</name>\n" for every pair in order; values are texts, written escaped, so
// that no value (one a peer sent, say) can add or close an element.
std::string ListToXml(const ElementList& list, std::string_view indent = {});

}  // namespace Korvane::Pictora::GeneralUtilityLib
