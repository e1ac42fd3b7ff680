// Status codes of the server core.
#pragma once

#include <cstdint>

namespace Korvane::Pictora::ServerCore {

inline constexpr std::uint32_t kStatusConfigurationError = 15616;
inline constexpr std::uint32_t kStatusAlreadyRegistered = 15617;
inline constexpr std::uint32_t kStatusRemoveUnknownProvider = 15618;
inline constexpr std::uint32_t kStatusUpdateUnknownProvider = 15619;
inline constexpr std::uint32_t kStatusAddServicesUnknownProvider = 15620;
inline constexpr std::uint32_t kStatusRemoveServicesUnknownProvider = 15621;
inline constexpr std::uint32_t kStatusBadConfiguration = 15622;
inline constexpr std::uint32_t kStatusNameRefused = 15623;
inline constexpr std::uint32_t kStatusProviderNotRegistered = 15624;
inline constexpr std::uint32_t kStatusProviderNotRunning = 15625;
inline constexpr std::uint32_t kStatusReportUnavailable = 15626;
inline constexpr std::uint32_t kStatusFatal = 15871;
// The system's "not enough server storage" number: the process holds its memory limit.
inline constexpr std::uint32_t kStatusServerOutOfMemory = 1130;
// The open sessions reached MaxSessions.
inline constexpr std::uint32_t kStatusSessionLimit = 15627;
// Cluster mode: the cluster store does not answer or has no quorum; the registry takes no change.
inline constexpr std::uint32_t kStatusClusterUnreachable = 15628;
// Cluster mode: other servers changed the same provider on every attempt.
inline constexpr std::uint32_t kStatusClusterContended = 15629;
// A server manager from a machine that is not on the allow list.
inline constexpr std::uint32_t kStatusAccessDenied = 53248;

}  // namespace Korvane::Pictora::ServerCore
