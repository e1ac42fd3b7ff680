// The stand-in provider's life with the server: session, registration of itself and of its
// services, periodic updates, noticing that the server forgot it, and the goodbye.
//
// The server forgets a provider when it restarts or when a liveness pass found it silent; the
// update call then fails and the session check says the session is unknown. The provider then
// registers again after a random delay, so a fleet that lost the same server does not come back
// in one burst.
//
// Thread safety: none; driven by the provider's main thread.
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "tools/common/ServerClient.h"
#include "tools/provider/ProviderOptions.h"
#include "tools/provider/StandInProvider.h"

namespace Korvane::Pictora::Tools {

class Registration {
 public:
  using Clock = std::chrono::steady_clock;

  Registration(const ProviderOptions& options, DceRpc::Binding server, StandInProvider& provider,
               std::string endpoint);

  // One step of the main loop: registers when due, otherwise sends the update when due.
  // Returns the time of the next step.
  Clock::time_point Step();
  // Unregisters the services and the provider and closes the session, if registered.
  void Leave();

 private:
  bool Register();
  void Update();
  void ScheduleReregistration();
  std::vector<std::string> ServicesMeantForUs();
  std::string ProviderXml();
  std::string ServicesXml(const std::vector<std::string>& services);
  void Log(const std::string& line);

  const ProviderOptions& options_;
  ServerClient client_;
  StandInProvider& provider_;
  std::string endpoint_;
  bool registered_ = false;
  Clock::time_point nextRegistration_;
  Clock::time_point nextUpdate_;
  std::mt19937 random_;
};

}  // namespace Korvane::Pictora::Tools
