#include "host/CommandTemplate.h"

namespace Korvane::Pictora::Host {

std::optional<CommandTemplate> CommandTemplate::Parse(std::string_view line, std::string& error) {
  CommandTemplate result;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) result.words_.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) {
    error = "a double quote is not closed";
    return std::nullopt;
  }
  if (inWord) result.words_.push_back(std::move(word));
  if (result.words_.empty()) {
    error = "the command is empty";
    return std::nullopt;
  }
  return result;
}

std::optional<std::vector<std::string>> CommandTemplate::Fill(const std::map<std::string, std::string>& values,
                                                              std::string& error) const {
  std::vector<std::string> filled;
  for (const std::string& word : words_) {
    std::string out;
    for (std::size_t at = 0; at < word.size();) {
      const std::size_t close = word[at] == '{' ? word.find('}', at) : std::string::npos;
      const auto value = close != std::string::npos ? values.find(word.substr(at + 1, close - at - 1)) : values.end();
      if (value == values.end()) {
        out += word[at++];
        continue;
      }
      out += value->second;
      at = close + 1;
    }
    if (out.starts_with('-') && !word.starts_with('-')) {
      error = "the value filled into '" + word + "' begins with '-' and would be read as an option";
      return std::nullopt;
    }
    filled.push_back(std::move(out));
  }
  return filled;
}

std::string CommandText(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += ' ';
    const bool quote = word.empty() || word.find_first_of(" \t\"") != std::string::npos;
    text += quote ? '"' + word + '"' : word;
  }
  return text;
}

}  // namespace Korvane::Pictora::Host
