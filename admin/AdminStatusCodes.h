// Status codes of the administration: the management facade, the service store and the
// provider administration.
#pragma once

#include <cstdint>

namespace Korvane::Pictora::ServerCore {

// The management facade.
inline constexpr std::uint32_t kFacadeSessionRefused = 56321;
inline constexpr std::uint32_t kFacadeNotInitialized = 56322;
inline constexpr std::uint32_t kFacadeInvalidSession = 56323;
inline constexpr std::uint32_t kFacadeUpdateFailed = 56324;
inline constexpr std::uint32_t kFacadeReadFailed = 56325;
inline constexpr std::uint32_t kFacadeProviderUpdateFailed = 56327;
inline constexpr std::uint32_t kFacadeProviderFileMissing = 56328;
inline constexpr std::uint32_t kFacadeProviderFileInvalid = 56329;
inline constexpr std::uint32_t kFacadeCreateRefused = 56343;
inline constexpr std::uint32_t kFacadeFatal = 901375;

// The service store.
inline constexpr std::uint32_t kStoreSaveFailed = 56580;
inline constexpr std::uint32_t kStoreReadFailed = 56581;
inline constexpr std::uint32_t kStoreNoMap = 56583;
inline constexpr std::uint32_t kStoreNoText = 56584;
inline constexpr std::uint32_t kStoreServicesNotSaved = 56585;
inline constexpr std::uint32_t kStoreNotFound = 56586;
inline constexpr std::uint32_t kStoreServiceNotSaved = 56587;
inline constexpr std::uint32_t kStoreNameClash = 56588;
inline constexpr std::uint32_t kStoreNoSuchService = 56589;
inline constexpr std::uint32_t kStoreFatal = 905471;

// The provider administration.
inline constexpr std::uint32_t kProvidersCreateFailed = 56065;
inline constexpr std::uint32_t kProvidersStartFailed = 56066;
inline constexpr std::uint32_t kProvidersDeleteMissing = 56067;
inline constexpr std::uint32_t kProvidersStopMissing = 56068;
inline constexpr std::uint32_t kProvidersInvalidFile = 56069;
inline constexpr std::uint32_t kProvidersNoNames = 56071;
// Added with the operator's stop command: before it, stopping could not fail this way.
inline constexpr std::uint32_t kProvidersStopFailed = 56072;
inline constexpr std::uint32_t kProvidersFatal = 897279;

}  // namespace Korvane::Pictora::ServerCore
