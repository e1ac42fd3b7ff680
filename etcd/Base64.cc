#include "etcd/Base64.h"

#include <array>
#include <cstdint>

namespace Korvane::Pictora::Etcd {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c) {
  const std::size_t found = kAlphabet.find(c);
  return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) group = group << 8 | (j < n ? static_cast<std::uint8_t>(bytes[i + j]) : 0u);
    for (std::size_t j = 0; j < 4; ++j) text += j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 63] : '=';
  }
  return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t group = 0;
    int padding = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      int value = 0;
      if (c == '=' && i + 4 == text.size() && j >= 2) {
        ++padding;
      } else if (padding > 0 || (value = Value(c)) < 0) {
        return std::nullopt;
      }
      group = group << 6 | static_cast<std::uint32_t>(value);
    }
    for (int j = 0; j < 3 - padding; ++j) bytes += static_cast<char>((group >> (16 - 8 * j)) & 0xFF);
  }
  return bytes;
}

}  // namespace Korvane::Pictora::Etcd
