// Where each name of a list of (name, value) pairs is, found ignoring ASCII letter case. Short
// lists (the usual ones, copied often) are searched in place; a long one, such as a list built
// from a peer's document with many names, gets a hash index so that building it stays linear.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Korvane::Pictora::GeneralUtilityLib {

class NameIndex {
 public:
  using Pairs = std::vector<std::pair<std::string, std::string>>;

  NameIndex() = default;
  NameIndex(const NameIndex& other)
      : positions_(other.positions_ ? std::make_unique<Positions>(*other.positions_) : nullptr) {}
  NameIndex& operator=(const NameIndex& other) {
    if (this != &other) positions_ = other.positions_ ? std::make_unique<Positions>(*other.positions_) : nullptr;
    return *this;
  }
  NameIndex(NameIndex&&) noexcept = default;
  NameIndex& operator=(NameIndex&&) noexcept = default;

  std::optional<std::size_t> Find(const Pairs& pairs, std::string_view name) const {
    if (pairs.size() <= kSearchedInPlace) {
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (SameName(pairs[i].first, name)) return i;
      }
      return std::nullopt;
    }
    auto found = positions_->find(Key(name));
    if (found == positions_->end()) return std::nullopt;
    return found->second;
  }
  // After a pair was appended.
  void Appended(const Pairs& pairs) {
    if (pairs.size() == kSearchedInPlace + 1) return Rebuild(pairs);
    if (pairs.size() > kSearchedInPlace) positions_->emplace(Key(pairs.back().first), pairs.size() - 1);
  }
  // After pairs were removed or replaced.
  void Rebuild(const Pairs& pairs) {
    positions_.reset();
    if (pairs.size() <= kSearchedInPlace) return;
    positions_ = std::make_unique<Positions>();
    for (std::size_t i = 0; i < pairs.size(); ++i) positions_->emplace(Key(pairs[i].first), i);
  }

 private:
  static constexpr std::size_t kSearchedInPlace = 32;

  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
  static bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
  }
  static std::string Key(std::string_view name) {
    std::string key(name);
    for (char& c : key) c = Lower(c);
    return key;
  }

  using Positions = std::unordered_map<std::string, std::size_t>;
  // Only long lists have one, so that the usual short ones copy and move cheaply.
  std::unique_ptr<Positions> positions_;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
