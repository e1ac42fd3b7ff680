// The stand-in provider's life with the server: session, registration of itself and of its
// services, periodic updates, noticing that the server forgot it, and the goodbye.
//
// The server forgets a provider when it restarts or when a liveness pass found it silent; the
// update call then fails and the session check says the session is unknown. The provider then
// registers again after a random delay, so a fleet that lost the same server does not come back
// in one burst.
//
// Given several servers (one cluster, sharing the registry), a call that fails on the way moves
// the provider to the next server, where it registers again soon: the registry may still hold
// it, and Register() replaces that registration. Only once every server failed in a row does it
// wait as long as after a restart.
//
// Thread safety: none; driven by the provider's main thread.
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "tools/common/ServerClient.h"
#include "tools/common/ServerList.h"
#include "tools/provider/ProviderOptions.h"
#include "tools/provider/StandInProvider.h"

namespace Korvane::Pictora::Tools {

class Registration {
 public:
  using Clock = std::chrono::steady_clock;

  // Registers with the servers of options.servers, which must not be empty.
  Registration(const ProviderOptions& options, StandInProvider& provider, std::string endpoint);

  // One step of the main loop: registers when due, otherwise sends the update when due.
  // Returns the time of the next step.
  Clock::time_point Step();
  // Unregisters the services and the provider and closes the session, if registered with the
  // server in use.
  void Leave();
  bool Registered() const { return registered_; }

 private:
  bool Register();
  void Update();
  void ScheduleReregistration();
  void MoveToNextServer();
  DceRpc::Binding CurrentBinding();
  std::vector<std::string> ServicesMeantForUs();
  std::string ProviderXml();
  std::string ServicesXml(const std::vector<std::string>& services);
  void Log(const std::string& line);

  const ProviderOptions& options_;
  ServerList servers_;
  ServerClient client_;
  StandInProvider& provider_;
  std::string endpoint_;
  bool registered_ = false;
  size_t serversFailedInARow_ = 0;
  Clock::time_point nextRegistration_;
  Clock::time_point nextUpdate_;
  std::mt19937 random_;
};

}  // namespace Korvane::Pictora::Tools
