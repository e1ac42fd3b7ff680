#include "admin/ServiceManager.h"

#include <algorithm>
#include <set>

#include "admin/AdminStatusCodes.h"
#include "admin/ProviderFiles.h"
#include "admin/StatusFailure.h"
#include "servercore/RegistryKeyLess.h"
#include "util/FileUtil.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

// Enough for servers changing services at the same moment; a store that keeps changing under
// us is reported rather than chased.
constexpr int kAttempts = 5;

std::string JoinWithSemicolons(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + ";";
  return text;
}

// The fields of the entry whose Name equals name ignoring case, or null.
Global::NameValueMap* FindByName(ServiceEntries& entries, const std::string& name) {
  for (ServiceEntry& entry : entries) {
    if (GU::Equals(entry.fields.Get("Name"), name, true)) return &entry.fields;
  }
  return nullptr;
}

}  // namespace

bool ServiceManager::Init(const std::string& servicesFile, const std::string& providersFolder,
                          IServicesCatalogue* catalogue, IServer* server, IProviderCalls* calls,
                          std::size_t maxDocumentBytes) {
  maxDocumentBytes_ = maxDocumentBytes;
  servicesFile_ = servicesFile;
  providersFolder_ = providersFolder;
  server_ = server;
  catalogue_ = catalogue;
  calls_ = ProviderServiceCalls(server, calls);
  return true;
}

template <typename Attempt>
bool ServiceManager::Repeated(std::string& statusXml, Attempt attempt) {
  const std::string given = statusXml;
  for (int round = 1;; ++round) {
    overtaken_ = false;
    statusXml = given;
    const bool done = attempt();
    if (done || !overtaken_ || round == kAttempts) return done;
  }
}

std::string ServiceManager::GetServicesXml(std::string& statusXml) {
  GU::Status status("ServiceManager.GetServicesXml");
  GU::XmlDocument document;
  std::string text;
  const bool loaded = catalogue_ == nullptr ? document.LoadFile(servicesFile_)
                                            : ReadText(text, status) && document.LoadXml(text);
  if (loaded && document.SelectNode("//", 0)) {
    const std::string declaration = document.GetNodeText("");
    if (document.SelectNode("/Pictora", 0)) {
      return GU::Format("<?xml %s?>%s", declaration.c_str(), document.GetNodeXml().c_str());
    }
  }
  status.Add(kStoreReadFailed, GU::Format("Failed to read xml: %s", servicesFile_.c_str()));
  status.AddAll(document.GetStatus());
  statusXml = status.ToXml();
  return std::string();
}

bool ServiceManager::UpdateServicesXml(const std::string& servicesXml, std::string& statusXml) {
  return Repeated(statusXml, [&] {
    GU::Status status("ServiceManager.UpdateServicesXml");
    // A whole new text: saved over whatever version is current.
    std::string current;
    if ((catalogue_ == nullptr || ReadText(current, status)) && SaveServicesXml(servicesXml, status)) return true;
    statusXml = status.ToXml();
    return false;
  });
}

bool ServiceManager::AddService(const std::string& source, const std::string& name, const std::string& properties,
                                const std::string& providers, std::string& statusXml) {
  if (name.empty()) return false;
  return Repeated(statusXml, [&] { return AddServiceOnce(source, name, properties, providers, statusXml); });
}

bool ServiceManager::AddServiceOnce(const std::string& source, const std::string& name, const std::string& properties,
                                    const std::string& providers, std::string& statusXml) {
  GU::Status status("ServiceManager.AddService");
  ServiceEntries entries;
  if (!ReadEntries(entries, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  Global::NameValueMap added;
  added["Name"] = NormalizeServiceName(name);
  added["Source"] = GU::Trim(source);
  added["State"] = "On";
  added["Properties"] = properties;
  added["ServiceProviders"] = providers;
  Global::NameValueMap* existing = FindByName(entries, added.Get("Name"));
  if (existing != nullptr && !GU::Equals(existing->Get("Source"), added.Get("Source"), true)) {
    return Fail(status, kStoreNameClash,
                GU::Format("Failed to add service '%s' with name '%s'.This service name '%s' is already in use by "
                           "service '%s",
                           added.Get("Source").c_str(), added.Get("Name").c_str(), added.Get("Name").c_str(),
                           existing->Get("Source").c_str()),
                statusXml);
  }
  if (existing != nullptr && existing->Get("ServiceProviders").empty()) {
    return Fail(status, kStoreNameClash,
                GU::Format("Failed to add service '%s' with name '%s'.It already exists on all the ServiceProviders",
                           added.Get("Source").c_str(), added.Get("Name").c_str()),
                statusXml);
  }
  if (existing == nullptr) {
    // A new service starts switched off: no provider is told.
    added["State"] = "Off";
  } else if (!providers.empty()) {
    // The union, in byte order, each name followed by ";".
    std::set<std::string> names;
    for (const std::string& n : Expand(existing->Get("ServiceProviders"))) names.insert(n);
    for (const std::string& n : Expand(providers)) names.insert(n);
    added["ServiceProviders"] = JoinWithSemicolons({names.begin(), names.end()});
  }
  GU::Status reasons;
  if (!ServicesDocument::Fits(added, reasons)) {
    status.Add(kStoreSaveFailed, "Failed to update service xml. The xml is invalid");
    status.AddAll(reasons);
    return Fail(status, kStoreServiceNotSaved, "Cannot save service xml.", statusXml);
  }
  const Global::NameValueMap previous = existing != nullptr ? *existing : Global::NameValueMap();
  if (existing == nullptr) {
    entries.push_back({added, {}});
  } else {
    *existing = added;
  }
  if (!SaveEntries(entries, kStoreServiceNotSaved, "Cannot save service xml.", status)) {
    statusXml = status.ToXml();
    return false;
  }
  if (!previous.Empty()) Update(previous, added);
  return true;
}

void ServiceManager::Update(const Global::NameValueMap& from, const Global::NameValueMap& to) {
  const bool wasOn = GU::ParseBool(from.Get("State"), true);
  const bool isOn = GU::ParseBool(to.Get("State"), true);
  if (wasOn == isOn) {
    std::vector<std::string> left = Expand(from.Get("ServiceProviders"));
    for (const std::string& provider : Expand(to.Get("ServiceProviders"))) {
      auto kept =
          std::find_if(left.begin(), left.end(), [&](const std::string& n) { return GU::Equals(n, provider, true); });
      if (kept != left.end()) {
        left.erase(kept);
      } else {
        calls_.StartService(from.Get("Source"), from.Get("Name"), from.Get("Properties"), provider);
      }
    }
    for (const std::string& provider : left) calls_.StopService(from.Get("Name"), provider);
  } else if (wasOn) {
    for (const std::string& provider : Expand(from.Get("ServiceProviders")))
      calls_.StopService(from.Get("Name"), provider);
  } else {
    for (const std::string& provider : Expand(to.Get("ServiceProviders"))) {
      calls_.StartService(to.Get("Source"), to.Get("Name"), to.Get("Properties"), provider);
    }
  }
}

bool ServiceManager::RemoveService(const std::string& name, const std::string& providers, std::string& statusXml) {
  return Repeated(statusXml, [&] { return RemoveServiceOnce(name, providers, statusXml); });
}

bool ServiceManager::RemoveServiceOnce(const std::string& name, const std::string& providers, std::string& statusXml) {
  GU::Status status("ServiceManager.RemoveService");
  ServiceEntries entries;
  if (!ReadEntries(entries, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  const std::string normal = NormalizeServiceName(name);
  auto entry = std::find_if(entries.begin(), entries.end(),
                            [&](const ServiceEntry& e) { return RegistryKeyEquals(e.fields.Get("Name"), normal); });
  if (entry == entries.end()) {
    status.Add(kStoreNotFound, GU::Format("The service '%s' was not found", normal.c_str()));
    status.AddXml(statusXml);
    return Fail(status, kStoreNotFound, "Cannot remove service implementation.", statusXml);
  }
  const std::vector<std::string> leaving = Expand(providers);
  Global::NameValueMap& record = entry->fields;
  std::vector<std::string> remaining = Expand(record.Get("ServiceProviders"));
  for (const std::string& provider : leaving) {
    auto entry = std::find(remaining.begin(), remaining.end(), provider);
    if (entry != remaining.end()) remaining.erase(entry);
  }
  const std::string serviceName = record.Get("Name");
  if (remaining.empty()) {
    entries.erase(entry);
  } else {
    record["ServiceProviders"] = GU::Join(remaining, ";");
  }
  if (!SaveEntries(entries, kStoreServicesNotSaved, "Cannot save services xml.", status)) {
    statusXml = status.ToXml();
    return false;
  }
  for (const std::string& provider : leaving) {
    // A provider that cannot be told no longer runs it as far as the registry is concerned.
    calls_.StopService(serviceName, provider, [server = server_, provider, serviceName] {
      std::string ignored;
      if (server != nullptr) server->RemoveService(provider, serviceName, ignored);
    });
  }
  return true;
}

bool ServiceManager::StartService(const std::string& name, std::string& statusXml) {
  return SetState(name, true, statusXml);
}

bool ServiceManager::StopService(const std::string& name, std::string& statusXml) {
  return SetState(name, false, statusXml);
}

bool ServiceManager::SetState(const std::string& name, bool on, std::string& statusXml) {
  return Repeated(statusXml, [&] { return SetStateOnce(name, on, statusXml); });
}

bool ServiceManager::SetStateOnce(const std::string& name, bool on, std::string& statusXml) {
  GU::Status status(on ? "ServiceManager.StartService" : "ServiceManager.StopService");
  ServiceEntries entries;
  if (!ReadEntries(entries, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  Global::NameValueMap* record = FindByName(entries, name);
  if (record == nullptr) {
    return Fail(status, kStoreNoSuchService,
                GU::Format(on ? "Failed to start service. Service '%s' does not exist on the server."
                              : "Failed to stop service. Service '%s' does not exist on the server.",
                           name.c_str()),
                statusXml);
  }
  (*record)["State"] = on ? "On" : "Off";
  const Global::NameValueMap changed = *record;
  if (!SaveEntries(entries, kStoreServicesNotSaved, "Cannot save services as an xml.", status)) {
    statusXml = status.ToXml();
    return false;
  }
  for (const std::string& provider : Expand(changed.Get("ServiceProviders"))) {
    if (on) {
      calls_.StartService(changed.Get("Source"), name, "", provider);
    } else {
      calls_.StopService(name, provider);
    }
  }
  return true;
}

bool ServiceManager::RefreshService(const std::string& name, std::string& statusXml) {
  GU::Status status("ServiceManager.RefreshService");
  ServiceEntries entries;
  if (!ReadEntries(entries, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  const Global::NameValueMap* record = FindByName(entries, name);
  if (record == nullptr) {
    return Fail(status, kStoreNoSuchService,
                GU::Format("Failed to refresh service. Service '%s' does not exist on the server.", name.c_str()),
                statusXml);
  }
  const std::string description =
      "<Pictora><Service><Name>" + name + "</Name><Source>" + record->Get("Source") + "</Source></Service></Pictora>";
  for (const std::string& provider : Expand(record->Get("ServiceProviders")))
    calls_.RefreshService(description, provider);
  return true;
}

bool ServiceManager::RefreshAllServices(std::string&) {
  for (const std::string& provider : Expand("")) calls_.RefreshServices(provider);
  return true;
}

bool ServiceManager::ReadText(std::string& text, GU::Status& status) {
  if (catalogue_ == nullptr) return GU::ReadFile(servicesFile_, text);
  std::string error;
  if (catalogue_->Read(text, catalogueVersion_, error) == IServicesCatalogue::Outcome::kDone) return true;
  status.Add(kStoreReadFailed, "The cluster store is unreachable; the services cannot be read (" + error + ")");
  return false;
}

bool ServiceManager::ReadEntries(ServiceEntries& entries, GU::Status& status) {
  if (catalogue_ == nullptr) return ServicesDocument::Read(servicesFile_, entries, status);
  std::string text;
  return ReadText(text, status) && ServicesDocument::Parse(text, entries, status);
}

bool ServiceManager::SaveEntries(const ServiceEntries& entries, std::uint32_t failureCode, const char* failureMessage,
                                 GU::Status& status) {
  if (SaveText(ServicesDocument::Render(entries), status)) return true;
  status.Add(failureCode, failureMessage);
  return false;
}

bool ServiceManager::WithinLimit(const std::string& text, GU::Status& status) const {
  if (maxDocumentBytes_ == 0 || text.size() <= maxDocumentBytes_) return true;
  status.Add(kStoreSaveFailed, GU::Format("The services would be %zu bytes, more than the %zu the server writes "
                                          "(MaxDocumentBytes)",
                                          text.size(), maxDocumentBytes_));
  return false;
}

bool ServiceManager::SaveText(const std::string& text, GU::Status& status) {
  if (!WithinLimit(text, status)) return false;
  if (catalogue_ != nullptr) return SaveToCatalogue(text, status);
  if (GU::WriteFileAtomically(servicesFile_, text)) return true;
  status.Add(kStoreSaveFailed, GU::Format("Failed to save xml to file: '%s'", servicesFile_.c_str()));
  return false;
}

bool ServiceManager::SaveServicesXml(const std::string& text, GU::Status& status) {
  if (!WithinLimit(text, status)) return false;
  try {
    GU::XmlDocument document;
    if (!document.LoadXml(text)) {
      status.Add(kStoreSaveFailed, "Failed to update service xml. The xml is invalid");
      status.AddAll(document.GetStatus());
      return false;
    }
    if (catalogue_ != nullptr) return SaveToCatalogue(text, status);
    try {
      document.Save(servicesFile_);
      return true;
    } catch (const GU::XmlSaveError&) {
      status.Add(kStoreSaveFailed, GU::Format("Failed to save xml to file: '%s'", servicesFile_.c_str()));
      status.AddAll(document.GetStatus());
      return false;
    }
  } catch (...) {
    status.Add(kStoreFatal, "Unknown fatal error occured in 'ServiceManager.SaveServicesXml'");
    return false;
  }
}

bool ServiceManager::SaveToCatalogue(const std::string& text, GU::Status& status) {
  std::string error;
  switch (catalogue_->Save(text, catalogueVersion_, error)) {
    case IServicesCatalogue::Outcome::kDone:
      return true;
    case IServicesCatalogue::Outcome::kChanged:
      overtaken_ = true;
      status.Add(kStoreSaveFailed,
                 "The services were changed on another server of the cluster meanwhile; nothing "
                 "was saved");
      return false;
    case IServicesCatalogue::Outcome::kUnreachable:
      break;
  }
  status.Add(kStoreSaveFailed, "The cluster store is unreachable; the services cannot be saved (" + error + ")");
  return false;
}

std::vector<std::string> ServiceManager::Expand(const std::string& providers) const {
  std::vector<std::string> names = GU::Tokenize(providers, ";");
  if (!names.empty() || providersFolder_.empty()) return names;
  std::string error;
  ListProviderNames(providersFolder_, names, error);
  return names;
}

}  // namespace Korvane::Pictora::ServerCore
