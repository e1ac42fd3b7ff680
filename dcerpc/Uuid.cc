#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::DceRpc {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

std::optional<Uuid> Uuid::Parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Uuid result;
  size_t byte = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsDashPosition(i)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    int high = HexValue(text[i]);
    int low = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    if (high < 0 || low < 0) return std::nullopt;
    result.bytes[byte++] = static_cast<uint8_t>(high * 16 + low);
    ++i;
  }
  return result;
}

std::string Uuid::ToString() const {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

const SyntaxId& Ndr20Syntax() {
  static const SyntaxId syntax{*Uuid::Parse("8a885d04-1ceb-11c9-9fe8-08002b104860"), 2, 0};
  return syntax;
}

const SyntaxId& Ndr64Syntax() {
  static const SyntaxId syntax{*Uuid::Parse("71710533-beba-4937-8319-b5dbef9ccc36"), 1, 0};
  return syntax;
}

}  // namespace Korvane::Pictora::DceRpc
