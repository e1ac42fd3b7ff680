#include "servercore/RegistryKeyLess.h"

#include <vector>

#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

unsigned char KeyChar(char c) {
  if (c == '\\') c = '/';
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return static_cast<unsigned char>(c);
}

int CompareKeys(std::string_view a, std::string_view b) {
  a = TrimView(a);
  b = TrimView(b);
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char ca = KeyChar(a[i]);
    const unsigned char cb = KeyChar(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

bool RegistryKeyLess::operator()(std::string_view a, std::string_view b) const {
  return CompareKeys(a, b) < 0;
}

bool RegistryKeyEquals(std::string_view a, std::string_view b) { return CompareKeys(a, b) == 0; }

std::string NormalizeServiceName(std::string_view name) {
  std::vector<std::string> pieces;
  for (const std::string& piece : GeneralUtilityLib::Tokenize(name, "\\/")) {
    std::string trimmed = GeneralUtilityLib::Trim(piece);
    if (!trimmed.empty()) pieces.push_back(std::move(trimmed));
  }
  return GeneralUtilityLib::Join(pieces, "/");
}

}  // namespace Korvane::Pictora::ServerCore
