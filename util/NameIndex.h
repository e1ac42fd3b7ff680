// Where each name of a list of (name, value) pairs is, found ignoring ASCII letter case in
// constant time, so that a list built from a peer's document with many names stays linear.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Korvane::Pictora::GeneralUtilityLib {

class NameIndex {
 public:
  std::optional<std::size_t> Find(std::string_view name) const {
    auto found = positions_.find(Key(name));
    if (found == positions_.end()) return std::nullopt;
    return found->second;
  }
  void Add(std::string_view name, std::size_t position) { positions_.emplace(Key(name), position); }
  void Clear() { positions_.clear(); }
  void Rebuild(const std::vector<std::pair<std::string, std::string>>& pairs) {
    positions_.clear();
    for (std::size_t i = 0; i < pairs.size(); ++i) Add(pairs[i].first, i);
  }

 private:
  static std::string Key(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
  }

  std::unordered_map<std::string, std::size_t> positions_;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
