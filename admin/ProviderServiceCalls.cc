#include "admin/ProviderServiceCalls.h"

namespace Korvane::Pictora::ServerCore {

void ProviderServiceCalls::Queue(const std::string& providerName,
                                 std::function<bool(IProviderCalls&, const std::string&, const std::string&)> call,
                                 std::function<void()> onRefused) {
  queued_.Add([server = server_, calls = calls_, providerName, call = std::move(call),
               onRefused = std::move(onRefused)] {
    std::string host, endpoint, statusXml;
    const bool told = server != nullptr && calls != nullptr &&
                      server->GetServiceProviderHostAndPort(providerName, host, endpoint, statusXml) &&
                      call(*calls, host, endpoint);
    if (!told && onRefused) onRefused();
  });
}

void ProviderServiceCalls::StartService(const std::string& source, const std::string& name,
                                        const std::string& properties, const std::string& providerName) {
  Queue(providerName, [source, name, properties](IProviderCalls& calls, const std::string& host,
                                                 const std::string& endpoint) {
    return calls.StartService(host, endpoint, source, name, properties);
  });
}

void ProviderServiceCalls::StopService(const std::string& name, const std::string& providerName,
                                       std::function<void()> onRefused) {
  Queue(
      providerName,
      [name](IProviderCalls& calls, const std::string& host, const std::string& endpoint) {
        return calls.StopService(host, endpoint, name);
      },
      std::move(onRefused));
}

void ProviderServiceCalls::RefreshService(const std::string& serviceXml, const std::string& providerName) {
  Queue(providerName, [serviceXml](IProviderCalls& calls, const std::string& host, const std::string& endpoint) {
    return calls.RefreshService(host, endpoint, serviceXml);
  });
}

void ProviderServiceCalls::RefreshServices(const std::string& providerName) {
  Queue(providerName, [](IProviderCalls& calls, const std::string& host, const std::string& endpoint) {
    return calls.RefreshAllServices(host, endpoint);
  });
}

}  // namespace Korvane::Pictora::ServerCore
