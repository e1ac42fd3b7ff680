// An operator's command line with placeholders, e.g.
//   systemctl start "pictora-provider@{name}.service"
// It is split into words first (at blanks; double quotes keep blanks inside a word, "" is an
// empty word; no other quoting), and the placeholders are filled in inside each word afterwards,
// so a value stays within its word whatever it holds: blanks, quotes, ";" or "$(...)" never make
// another argument, and no shell ever sees the line.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Korvane::Pictora::Host {

class CommandTemplate {
 public:
  // Nothing for a line without words or with an unclosed quote; error says why.
  static std::optional<CommandTemplate> Parse(std::string_view line, std::string& error);

  // The words with every "{key}" of `values` replaced, in one pass (a value is never searched
  // for placeholders again); other braces stay as written. Nothing when a value would turn a word
  // into an option (a leading "-" the template did not have); error says which.
  std::optional<std::vector<std::string>> Fill(const std::map<std::string, std::string>& values,
                                               std::string& error) const;

  const std::vector<std::string>& Words() const { return words_; }

 private:
  std::vector<std::string> words_;
};

// The words as one readable line: a word with blanks or quotes, or an empty one, in double quotes.
std::string CommandText(const std::vector<std::string>& words);

}  // namespace Korvane::Pictora::Host
