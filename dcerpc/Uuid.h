// A 128-bit interface or object identifier and the (identifier, version) pair that names an
// interface or a transfer syntax. Plain values, freely copyable.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Korvane::Pictora::DceRpc {

struct Uuid {
  // The 16 bytes in text order ("00112233-4455-..." gives 0x00, 0x11, ...).
  std::array<uint8_t, 16> bytes{};

  // Parses the 36-character form, either case; nullopt for anything else.
  static std::optional<Uuid> Parse(std::string_view text);
  // Lower-case 36-character text.
  std::string ToString() const;

  auto operator<=>(const Uuid&) const = default;
};

struct SyntaxId {
  Uuid uuid;
  uint16_t major = 0;
  uint16_t minor = 0;

  auto operator<=>(const SyntaxId&) const = default;
};

// NDR 2.0, the only transfer syntax this runtime speaks.
const SyntaxId& Ndr20Syntax();
// NDR64, recognised only to be refused.
const SyntaxId& Ndr64Syntax();

}  // namespace Korvane::Pictora::DceRpc
