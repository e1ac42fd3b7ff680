#include "host/CommandLine.h"

#include <strings.h>

namespace Korvane::Pictora::Host {

namespace {

bool IsOption(const std::string& word, const char* name) {
  // "-name" or "--name", letter case ignored.
  const std::string single = std::string("-") + name;
  const std::string dashed = std::string("--") + name;
  return strcasecmp(word.c_str(), single.c_str()) == 0 || strcasecmp(word.c_str(), dashed.c_str()) == 0;
}

std::string WordOrEmpty(const std::vector<std::string>& words, size_t index) {
  return index < words.size() ? words[index] : std::string();
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& words) {
  CommandLine line;
  if (words.size() < 2) return line;
  const std::string& first = words[1];
  if (IsOption(first, "console")) {
    line.mode = RunMode::kConsole;
    line.extraAllowList = WordOrEmpty(words, 2);
    line.endpoint = WordOrEmpty(words, 3);
  } else if (IsOption(first, "uninstall")) {
    line.mode = RunMode::kUninstall;
  } else {
    line.mode = RunMode::kService;
    line.extraAllowList = first;
    line.endpoint = WordOrEmpty(words, 2);
  }
  return line;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return ParseCommandLine(words);
}

}  // namespace Korvane::Pictora::Host
