// Settings that tighten the server against failing and hostile peers, read from the server
// configuration's Config element when the core starts. Each default keeps the server's designed
// behaviour, except where that behaviour was itself the hole (time-outs of the liveness ping).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "servercore/CallerIdentity.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

struct ResilienceSettings {
  // ParallelLoadQueries: a lookup copies its candidates under the registry lock, asks their loads
  // in parallel without it (giving up on a provider after LoadQueryBudgetMs), then writes the
  // loads back under the lock. Off: asked one after another under the lock.
  bool parallelLoadQueries = false;
  std::chrono::milliseconds loadQueryBudget{1000};
  // LivenessFailuresBeforeRemoval: consecutive failed liveness passes (no answer, a refusal or a
  // time-out) before a provider is dropped.
  int livenessFailuresBeforeRemoval = 1;
  // SessionIdleTimeout (seconds, 0: never) closes sessions nobody used for that long;
  // MaxSessions (0: no limit) caps the open sessions, client and management sessions each;
  // MaxSessionInfoBytes (0: no limit) the information a session is opened with.
  std::chrono::milliseconds sessionIdleTimeout{0};
  std::size_t maxSessions = 0;
  std::size_t maxSessionInfoBytes = 64 * 1024;
  // VerifyPeerAddress: the allow lists also check the connection's own address, not only the
  // machine the caller says it is.
  bool verifyPeerAddress = false;
  // RemoteStopFrom: who may stop a console-mode server with procedure 24: "any", "local" (the
  // named channel and loopback addresses), "none", or addresses separated by "," or ";".
  std::string remoteStopFrom = "any";

  static ResilienceSettings From(const GeneralUtilityLib::ElementList& config);

  bool MayStop(const CallerIdentity& caller) const;
};

}  // namespace Korvane::Pictora::ServerCore
