#include "servercore/ResilienceSettings.h"

#include <algorithm>

#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

long Number(const GU::ElementList& config, const char* name, long fallback, long minimum) {
  const std::string text = config.GetValue(name);
  if (text.empty()) return fallback;
  return std::max<long>(GU::ParseLong(text, static_cast<std::int32_t>(fallback)), minimum);
}

}  // namespace

ResilienceSettings ResilienceSettings::From(const GU::ElementList& config) {
  ResilienceSettings settings;
  settings.parallelLoadQueries = config.GetBool("ParallelLoadQueries", false);
  settings.loadQueryBudget = std::chrono::milliseconds(Number(config, "LoadQueryBudgetMs", 1000, 1));
  settings.livenessFailuresBeforeRemoval = static_cast<int>(Number(config, "LivenessFailuresBeforeRemoval", 1, 1));
  settings.sessionIdleTimeout = std::chrono::seconds(Number(config, "SessionIdleTimeout", 0, 0));
  settings.maxSessions = static_cast<std::size_t>(Number(config, "MaxSessions", 0, 0));
  settings.maxSessionInfoBytes = static_cast<std::size_t>(Number(config, "MaxSessionInfoBytes", 64 * 1024, 0));
  settings.verifyPeerAddress = config.GetBool("VerifyPeerAddress", false);
  settings.remoteStopFrom = config.GetString("RemoteStopFrom", "any");
  return settings;
}

bool ResilienceSettings::MayStop(const CallerIdentity& caller) const {
  if (GU::Equals(remoteStopFrom, "any", true)) return true;
  if (GU::Equals(remoteStopFrom, "none", true)) return false;
  if (GU::Equals(remoteStopFrom, "local", true)) return caller.IsLocal();
  for (const std::string& address : GU::Tokenize(remoteStopFrom, ",;")) {
    if (GU::Equals(GU::Trim(address), caller.peerAddress, true)) return true;
  }
  return false;
}

}  // namespace Korvane::Pictora::ServerCore
