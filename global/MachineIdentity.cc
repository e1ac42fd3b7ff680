#include "global/MachineIdentity.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "util/TextUtil.h"

namespace Korvane::Pictora::Global {

namespace GU = GeneralUtilityLib;

namespace {

constexpr std::size_t kHostNameBytes = 1000;
constexpr std::size_t kNumericHostBytes = 1025;

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// The resolution of the host name, asking for the canonical name; null when it fails.
AddrInfoList ResolveHostName() {
  const std::string host = LocalHostName();
  if (host.empty()) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return nullptr;
  return AddrInfoList(list);
}

// The first address as numeric text, or empty text.
std::string AddressOf(const AddrInfoList& list) {
  if (!list || list->ai_addr == nullptr) return {};
  char numeric[kNumericHostBytes] = {};
  if (getnameinfo(list->ai_addr, list->ai_addrlen, numeric, sizeof numeric, nullptr, 0,
                  NI_NUMERICHOST) != 0) {
    return {};
  }
  return numeric;
}

std::string CanonicalNameOf(const AddrInfoList& list) {
  if (!list || list->ai_canonname == nullptr) return {};
  return list->ai_canonname;
}

// strerror_r comes in two flavours; each overload picks the text out of one.
[[maybe_unused]] const char* ErrorMessage(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}
[[maybe_unused]] const char* ErrorMessage(const char* result, const char*) {
  return result != nullptr ? result : "";
}

}  // namespace

std::string LocalHostName() {
  char buffer[kHostNameBytes] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return buffer;
}

std::string LocalAddress() {
  try {
    return AddressOf(ResolveHostName());
  } catch (...) {
    return {};
  }
}

std::string LocalFullyQualifiedName() {
  try {
    return CanonicalNameOf(ResolveHostName());
  } catch (...) {
    return {};
  }
}

std::string LocalIdentities() {
  try {
    // One resolution for both parts, so that they describe the same answer.
    const AddrInfoList list = ResolveHostName();
    return GU::ToLower(LocalHostName()) + ";" + GU::ToLower(AddressOf(list)) + ";" +
           GU::ToLower(CanonicalNameOf(list));
  } catch (...) {
    return {};
  }
}

std::string NewUniqueId() {
  uuid_t uuid;
  uuid_generate(uuid);
  char text[37] = {};
  uuid_unparse_lower(uuid, text);
  return text;
}

std::string ErrorText(int code) {
  try {
    char buffer[256] = {};
    return GU::Trim(ErrorMessage(strerror_r(code, buffer, sizeof buffer), buffer));
  } catch (...) {
    return {};
  }
}

std::string LastErrorText() {
  const int code = errno;
  return code == 0 ? std::string() : ErrorText(code);
}

}  // namespace Korvane::Pictora::Global
