// The calls the service store makes to a provider by name. The store queues them while it
// decides; the facade makes them after releasing its lock (DeferredCalls). When a call is made
// the provider's host and endpoint come from the core (a provider the core does not know is sent
// nothing and the call fails) and the call goes through the provider-calls seam; a provider that
// cannot be reached answers false.
//
// Not thread-safe: the queue belongs to the store, which the facade serialises. The queued calls
// are as safe as the core and the seam (both are).
#pragma once

#include <functional>
#include <string>

#include "admin/DeferredCalls.h"
#include "servercore/IProviderCalls.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::ServerCore {

class ProviderServiceCalls {
 public:
  ProviderServiceCalls(IServer* server, IProviderCalls* calls) : server_(server), calls_(calls) {}

  void StartService(const std::string& source, const std::string& name, const std::string& properties,
                    const std::string& providerName);
  // onRefused runs when the provider could not be told.
  void StopService(const std::string& name, const std::string& providerName, std::function<void()> onRefused = {});
  void RefreshService(const std::string& serviceXml, const std::string& providerName);
  void RefreshServices(const std::string& providerName);

  // The calls queued so far; none are left queued.
  DeferredCalls Take() { return std::exchange(queued_, {}); }

 private:
  // Queues `call` for the provider's address; the call answers whether the provider took it.
  void Queue(const std::string& providerName,
             std::function<bool(IProviderCalls&, const std::string& host, const std::string& endpoint)> call,
             std::function<void()> onRefused = {});

  IServer* server_;
  IProviderCalls* calls_;
  DeferredCalls queued_;
};

}  // namespace Korvane::Pictora::ServerCore
