#include "admin/ServiceManager.h"

#include <algorithm>
#include <set>

#include "admin/AdminStatusCodes.h"
#include "admin/StatusFailure.h"
#include "servercore/RegistryKeyLess.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

std::string JoinWithSemicolons(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + ";";
  return text;
}

// The record whose Name equals name ignoring case, or null.
Global::NameValueMap* FindByName(std::vector<Global::NameValueMap>& records, const std::string& name) {
  for (Global::NameValueMap& record : records) {
    if (GU::Equals(record.Get("Name"), name, true)) return &record;
  }
  return nullptr;
}

}  // namespace

bool ServiceManager::Init(const std::string& servicesFile, ServiceProviderManager* providers, IServer* server,
                          IProviderCalls* calls) {
  servicesFile_ = servicesFile;
  providers_ = providers;
  server_ = server;
  catalogue_ = server != nullptr ? server->SharedCatalogue() : nullptr;
  calls_ = ProviderServiceCalls(server, calls);
  return true;
}

std::string ServiceManager::GetServicesXml(std::string& statusXml) {
  GU::Status status("ServiceManager.GetServicesXml");
  GU::XmlDocument document;
  if (LoadServices(document, status) && document.SelectNode("//", 0)) {
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
  GU::Status status("ServiceManager.UpdateServicesXml");
  // A whole new text: saved over whatever version is current.
  GU::XmlDocument current;
  if (catalogue_ != nullptr && !LoadServices(current, status)) {
    statusXml = status.ToXml();
    return false;
  }
  if (SaveServicesXml(servicesXml, status)) return true;
  statusXml = status.ToXml();
  return false;
}

bool ServiceManager::AddService(const std::string& source, const std::string& name, const std::string& properties,
                                const std::string& providers, std::string& statusXml) {
  GU::Status status("ServiceManager.AddService");
  if (name.empty()) return false;
  ServiceRecords records;
  if (!ReadRecords(records, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  Global::NameValueMap added;
  added["Name"] = NormalizeServiceName(name);
  added["Source"] = GU::Trim(source);
  added["State"] = "On";
  added["Properties"] = properties;
  added["ServiceProviders"] = providers;
  Global::NameValueMap* existing = FindByName(records, added.Get("Name"));
  if (existing == nullptr) {
    // A new service starts switched off: no provider is told.
    added["State"] = "Off";
    records.push_back(added);
  } else if (!GU::Equals(existing->Get("Source"), added.Get("Source"), true)) {
    return Fail(status, kStoreNameClash,
                GU::Format("Failed to add service '%s' with name '%s'.This service name '%s' is already in use by "
                           "service '%s",
                           added.Get("Source").c_str(), added.Get("Name").c_str(), added.Get("Name").c_str(),
                           existing->Get("Source").c_str()),
                statusXml);
  } else if (existing->Get("ServiceProviders").empty()) {
    return Fail(status, kStoreNameClash,
                GU::Format("Failed to add service '%s' with name '%s'.It already exists on all the ServiceProviders",
                           added.Get("Source").c_str(), added.Get("Name").c_str()),
                statusXml);
  } else {
    if (!providers.empty()) {
      // The union, in byte order, each name followed by ";".
      std::set<std::string> names;
      for (const std::string& n : Expand(existing->Get("ServiceProviders"))) names.insert(n);
      for (const std::string& n : Expand(providers)) names.insert(n);
      added["ServiceProviders"] = JoinWithSemicolons({names.begin(), names.end()});
    }
    const Global::NameValueMap previous = *existing;
    *existing = added;
    if (!SaveRecords(records, kStoreServiceNotSaved, "Cannot save service xml.", status)) {
      statusXml = status.ToXml();
      return false;
    }
    Update(previous, added);
    return true;
  }
  if (SaveRecords(records, kStoreServiceNotSaved, "Cannot save service xml.", status)) return true;
  statusXml = status.ToXml();
  return false;
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
  GU::Status status("ServiceManager.RemoveService");
  ServiceRecords records;
  if (!ReadRecords(records, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  const std::string normal = NormalizeServiceName(name);
  auto record = std::find_if(records.begin(), records.end(),
                             [&](const Global::NameValueMap& r) { return RegistryKeyEquals(r.Get("Name"), normal); });
  if (record == records.end()) {
    status.Add(kStoreNotFound, GU::Format("The service '%s' was not found", normal.c_str()));
    status.AddXml(statusXml);
    return Fail(status, kStoreNotFound, "Cannot remove service implementation.", statusXml);
  }
  const std::vector<std::string> leaving = Expand(providers);
  std::vector<std::string> remaining = Expand(record->Get("ServiceProviders"));
  for (const std::string& provider : leaving) {
    auto entry = std::find(remaining.begin(), remaining.end(), provider);
    if (entry != remaining.end()) remaining.erase(entry);
  }
  const std::string serviceName = record->Get("Name");
  if (remaining.empty()) {
    records.erase(record);
  } else {
    (*record)["ServiceProviders"] = GU::Join(remaining, ";");
  }
  if (!SaveRecords(records, kStoreServicesNotSaved, "Cannot save services xml.", status)) {
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
  GU::Status status(on ? "ServiceManager.StartService" : "ServiceManager.StopService");
  ServiceRecords records;
  if (!ReadRecords(records, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  Global::NameValueMap* record = FindByName(records, name);
  if (record == nullptr) {
    return Fail(status, kStoreNoSuchService,
                GU::Format(on ? "Failed to start service. Service '%s' does not exist on the server."
                              : "Failed to stop service. Service '%s' does not exist on the server.",
                           name.c_str()),
                statusXml);
  }
  (*record)["State"] = on ? "On" : "Off";
  const Global::NameValueMap changed = *record;
  if (!SaveRecords(records, kStoreServicesNotSaved, "Cannot save services as an xml.", status)) {
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
  ServiceRecords records;
  if (!ReadRecords(records, status)) return Fail(status, kStoreNoMap, "Cannot get service map.", statusXml);
  const Global::NameValueMap* record = FindByName(records, name);
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

bool ServiceManager::LoadServices(GU::XmlDocument& document, GU::Status& status) {
  if (catalogue_ == nullptr) return document.LoadFile(servicesFile_);
  std::string text;
  std::string error;
  if (catalogue_->Read(text, catalogueVersion_, error) != IServicesCatalogue::Outcome::kDone) {
    status.Add(kStoreReadFailed, "The cluster store is unreachable; the services cannot be read (" + error + ")");
    return false;
  }
  return document.LoadXml(text);
}

bool ServiceManager::ReadRecords(ServiceRecords& records, GU::Status& status) {
  GU::XmlDocument document;
  if (!LoadServices(document, status)) {
    status.AddAll(document.GetStatus());
    return false;
  }
  const long count = document.CountChildren("//Services");
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode("//Services/*", static_cast<std::size_t>(i))) continue;
    Global::NameValueMap record;
    if (record.LoadXml(document.GetNodeXml(), "//Service") != 0) records.push_back(std::move(record));
  }
  return true;
}

bool ServiceManager::SaveRecords(const ServiceRecords& records, std::uint32_t failureCode, const char* failureMessage,
                                 GU::Status& status) {
  std::string text = "<?xml version=\"1.0\" standalone=\"yes\"?>\n<Pictora><Server><Services>\n";
  for (const Global::NameValueMap& record : records) text += record.ToXmlString("Service") + "\n";
  text += "</Services></Server></Pictora>\n";
  if (SaveServicesXml(text, status)) return true;
  status.Add(failureCode, failureMessage);
  return false;
}

bool ServiceManager::SaveServicesXml(const std::string& text, GU::Status& status) {
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
  if (!names.empty() || providers_ == nullptr) return names;
  std::string error;
  providers_->ProviderNames(names, error);
  return names;
}

}  // namespace Korvane::Pictora::ServerCore
