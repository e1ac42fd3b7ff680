// Keeps the registry's service map in step with the services file.
#include <ctime>

#include "global/NameValueMap.h"
#include "servercore/ServerImpl.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;

bool ServerImpl::LoadServices() {
  // The file is rewritten whole (a new inode) by every change, so device, inode, size and
  // the nanosecond modification time together tell an unchanged file with one stat.
  const FileStamp stamp = FileStamp::Of(servicesFile_);
  if (stamp == servicesStamp_) {
    RefreshDefaultAllocations();
    return true;
  }
  document_.GetStatus().Reset("");
  if (servicesFile_.empty() || !document_.Load(servicesFile_)) return false;
  const long count = document_.CountChildren("//Services");
  ServiceMap previous;
  previous.swap(services_);
  for (long i = 0; i < count; ++i) ReadServiceEntry(static_cast<std::size_t>(i), previous);
  // A file changed within the last clock ticks is read again next time.
  servicesStamp_ = stamp.Settled() ? stamp : FileStamp();
  servicesLoadedAt_ = std::time(nullptr);
  defaultAllocationGeneration_ = configuredProviders_.Generation();
  return true;
}

void ServerImpl::ReadServiceEntry(std::size_t index, ServiceMap& previous) {
  const unsigned long position = index;
  if (!document_.SelectNode(GU::Format("//Services/*[%lu]", position), 0)) return;
  Global::NameValueMap entry;
  entry.LoadXml(document_.GetNodeXml(), "//Service");
  const std::string name = NormalizeServiceName(entry.Get("Name"));
  if (name.empty()) return;
  ServiceRecord& record = services_[name];
  record.name = name;
  record.source = entry.Get("Source");
  record.state = entry.Get("State");
  record.application =
      document_.GetText(GU::Format("//Services/*[%lu]/Properties/Application", position), "");
  record.serviceProvidersText = GU::Trim(entry.Get("ServiceProviders"));
  record.allocatedOn = AllocationFor(record.serviceProvidersText);
  auto old = previous.find(name);
  if (old != previous.end()) {
    record.failedOn = old->second.failedOn;
    record.runningOn = old->second.runningOn;
  }
}

std::vector<std::string> ServerImpl::AllocationFor(const std::string& serviceProvidersText) {
  std::vector<std::string> providers = GU::Tokenize(serviceProvidersText, ",;");
  if (!providers.empty()) return providers;
  return configuredProviders_.Names(serverFolder_);
}

void ServerImpl::RefreshDefaultAllocations() {
  const std::vector<std::string>& configured = configuredProviders_.Names(serverFolder_);
  if (configuredProviders_.Generation() == defaultAllocationGeneration_) return;
  for (auto& entry : services_) {
    if (entry.second.serviceProvidersText.empty()) entry.second.allocatedOn = configured;
  }
  defaultAllocationGeneration_ = configuredProviders_.Generation();
}

std::string ServerImpl::GetServicesForServiceProvider(const std::string& providerName) {
  try {
    GU::XmlDocument document;
    if (servicesFile_.empty() || !document.Load(servicesFile_)) return std::string();
    std::string out = "<Pictora><Services>";
    const long count = document.CountChildren("//Services");
    for (long i = 0; i < count; ++i) {
      if (!document.SelectNode(GU::Format("//Services/*[%lu]", static_cast<unsigned long>(i)), 0)) {
        continue;
      }
      Global::NameValueMap entry;
      entry.LoadXml(document.GetNodeXml(), "//Service");
      if (entry.Contains("Name")) entry["Name"] = NormalizeServiceName(entry.Get("Name"));
      if (!GU::ParseBool(entry.Get("State"), true)) continue;
      const std::vector<std::string> providers = GU::Tokenize(entry.Get("ServiceProviders"), ";,");
      bool meant = providers.empty();
      for (const std::string& provider : providers) meant = meant || GU::Equals(provider, providerName, true);
      if (meant) out += entry.ToXmlString("Service");
    }
    return out + "</Services></Pictora>";
  } catch (...) {
    ReportFatal("GetServicesForServiceProvider");
    return std::string();
  }
}

}  // namespace Korvane::Pictora::ServerCore
