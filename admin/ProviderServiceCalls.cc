#include "admin/ProviderServiceCalls.h"

namespace Korvane::Pictora::ServerCore {

bool ProviderServiceCalls::Address(const std::string& providerName, std::string& host, std::string& endpoint) {
  std::string statusXml;
  return server_ != nullptr && calls_ != nullptr &&
         server_->GetServiceProviderHostAndPort(providerName, host, endpoint, statusXml);
}

bool ProviderServiceCalls::StartService(const std::string& source, const std::string& name,
                                        const std::string& properties, const std::string& providerName) {
  std::string host, endpoint;
  return Address(providerName, host, endpoint) && calls_->StartService(host, endpoint, source, name, properties);
}

bool ProviderServiceCalls::StopService(const std::string& name, const std::string& providerName) {
  std::string host, endpoint;
  return Address(providerName, host, endpoint) && calls_->StopService(host, endpoint, name);
}

bool ProviderServiceCalls::RefreshService(const std::string& serviceXml, const std::string& providerName) {
  std::string host, endpoint;
  return Address(providerName, host, endpoint) && calls_->RefreshService(host, endpoint, serviceXml);
}

bool ProviderServiceCalls::RefreshServices(const std::string& providerName) {
  std::string host, endpoint;
  return Address(providerName, host, endpoint) && calls_->RefreshAllServices(host, endpoint);
}

}  // namespace Korvane::Pictora::ServerCore
