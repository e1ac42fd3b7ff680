#include "servercore/Reports.h"

#include "global/Installation.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

std::string Element(const char* name, const std::string& value) {
  return std::string("<") + name + ">" + value + "</" + name + ">\n";
}

}  // namespace

GU::ElementList BasicInformation(const ServerFacts& facts, const Registry& registry) {
  GU::ElementList info;
  info["StartedAt"] = GU::TimeStamp();
  info["PTSConfigFile"] = facts.configFile;
  info["HostMachine"] = facts.hostMachine;
  info["Endpoint"] = facts.endpoint;
  info["Version"] = Global::InstalledVersion();
  info["LogsFolder"] = facts.logsFolder;
  info["ServerType"] = "undefined";
  info["NumServiceProviders"] = GU::Format("%lu", static_cast<unsigned long>(registry.Providers().size()));
  info["NumServices"] = GU::Format("%lu", static_cast<unsigned long>(registry.RegisteredServiceCount()));
  if (!facts.cluster.empty()) info["Cluster"] = facts.cluster;
  return info;
}

std::string BasicReport(const ServerFacts& facts, const Registry& registry) {
  return "<Pictora><Server><Info><Basic>\n" + GU::ListToXml(BasicInformation(facts, registry)) +
         "</Basic></Info></Server></Pictora>\n";
}

std::string DetailedHeader(const ServerFacts& facts, const Registry& registry) {
  return "<Pictora><Server><Info>\n<Basic>\n" + GU::ListToXml(BasicInformation(facts, registry)) +
         "</Basic>\n<Detailed><ServiceProviders>\n";
}

std::string ProviderHead(const std::string& name, const GU::ElementList& config) {
  return "<ServiceProvider>\n" + Element("Name", name) + Element("Endpoint", config.GetValue("Endpoint")) +
         Element("HostMachine", config.GetValue("HostMachine"));
}

std::string DetailedReport(const ServerFacts& facts, const Registry& registry,
                           const std::function<bool(const std::string&)>& shows) {
  std::string text = DetailedHeader(facts, registry);
  for (const auto& [name, record] : registry.Providers()) {
    text += ProviderHead(name, record.config) + "<Services>\n";
    for (const auto& [serviceName, service] : record.services) {
      if (!shows || shows(serviceName)) text += service.registrationXml;
    }
    text += "</Services>\n</ServiceProvider>\n";
  }
  return text + "</ServiceProviders></Detailed>\n</Info></Server></Pictora>\n";
}

std::string ClientServerInfo(const Registry& registry) {
  std::string text = "<Pictora><Client><ServerInfo>\n<ImageServices>\n";
  for (const auto& [serviceName, providers] : registry.Allocations()) {
    text += "<ImageService>\n" + Element("Name", serviceName);
    for (const std::string& providerName : providers) {
      const ServiceProviderRecord* provider = registry.FindProvider(providerName);
      text += "<ServiceProvider>\n";
      for (const char* key : {"Name", "HostMachine", "Endpoint"}) {
        text += Element(key, provider != nullptr ? provider->config.GetValue(key) : "");
      }
      text += "</ServiceProvider>\n";
    }
    text += "</ImageService>\n";
  }
  return text + "</ImageServices>\n</ServerInfo></Client></Pictora>";
}

std::string ProviderList(const Registry& registry) {
  std::string text = "<Pictora>\n";
  for (const auto& provider : registry.Providers()) {
    text += "\t<ServiceProvider>" + provider.first + "</ServiceProvider>\n";
  }
  return text + "</Pictora>\n";
}

std::string ProviderInfo(const Registry& registry, const std::string& providerName) {
  const ServiceProviderRecord* provider = registry.FindProvider(providerName);
  if (provider == nullptr) return std::string();
  return "<ServiceProvider><Config>" + GU::ListToXml(provider->config) + "</Config></ServiceProvider>";
}

std::string ServiceList(const Registry& registry, const std::string& providerName) {
  const ServiceProviderRecord* provider = registry.FindProvider(providerName);
  if (provider == nullptr) return std::string();
  std::string text = "<Pictora>\n";
  for (const auto& service : provider->services) text += "\t<ImageService>" + service.first + "</ImageService>\n";
  return text + "</Pictora>\n";
}

std::string ServiceInfo(const Registry& registry, const std::string& providerName, const std::string& serviceName) {
  const ServiceProviderRecord* provider = registry.FindProvider(providerName);
  if (provider == nullptr) return std::string();
  auto service = provider->services.find(serviceName);
  return service == provider->services.end() ? std::string() : service->second.registrationXml;
}

}  // namespace Korvane::Pictora::ServerCore
