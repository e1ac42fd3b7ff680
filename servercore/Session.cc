#include "servercore/Session.h"

#include "global/MachineIdentity.h"
#include "servercore/AllowList.h"
#include "servercore/IServer.h"
#include "servercore/SafeNames.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr std::uint32_t kAccessDenied = 53248;
constexpr const char* kProvidersForSource =
    "Korvane::Pictora::ServerCore::Session::GetServiceProvidersFor";

}  // namespace

Session::Session() : sessionId_(Global::NewUniqueId()) {}

bool Session::Init(const std::string& sessionInfoXml, const std::string& configFilePath) {
  status_.Reset("ServerCore.Session.Init");
  if (sessionInfoXml.empty()) return true;
  // A text that does not load simply yields no values; a file name is never followed.
  if (LooksLikeMarkup(sessionInfoXml)) sessionInfo_.LoadXml(sessionInfoXml, "//SessionInfo");
  if (!GU::Equals(sessionInfo_.Get("Application"), "ServerManager", true)) return true;
  return CheckAllowList(configFilePath);
}

bool Session::CheckAllowList(const std::string& configFilePath) {
  // Read afresh for every server-manager session so that a changed list applies at once.
  Global::NameValueMap licenseManager;
  if (!configFilePath.empty()) licenseManager.LoadXml(configFilePath, "//LicenseManager");
  const CallerMachine caller{sessionInfo_.Get("MachineName"), sessionInfo_.Get("IPAddress"),
                             sessionInfo_.Get("FQDN")};
  if (AllowListAdmits(licenseManager.Get("ServerManagerAllowList"), caller,
                      Global::LocalIdentities())) {
    return true;
  }
  status_.Add(kAccessDenied,
              GU::Format("The application '%s' running  on host '%s' does not have access "
                         "rights on the Server running on host '%s'",
                         sessionInfo_.Get("Application").c_str(), caller.machineName.c_str(),
                         Global::LocalHostName().c_str()));
  return false;
}

bool Session::SetServer(IServer* server) {
  server_ = server;
  return true;
}

bool Session::NotifySession(bool, const std::string&) { return true; }

std::string Session::GetInfo(const CallerIdentity& caller, const std::string& reportKind,
                             std::string& out) {
  return server_ ? server_->GetInfo(caller, reportKind, out) : std::string();
}

bool Session::AddServiceProvider(const std::string& name, const std::string& providerXml,
                                 std::string& out) {
  return server_ && server_->AddServiceProvider(name, sessionId_, providerXml, out);
}

bool Session::RemoveServiceProvider(const std::string& name, std::string&) {
  return server_ && server_->RemoveServiceProvider(name);
}

bool Session::UpdateServiceProviderInfo(const std::string& name, const std::string& providerXml,
                                        std::string& out) {
  return server_ && server_->UpdateServiceProviderInfo(name, providerXml, out);
}

bool Session::AddServices(const std::string& name, const std::string& servicesXml,
                          std::string& out) {
  return server_ && server_->AddServices(name, servicesXml, out);
}

bool Session::RemoveServices(const std::string& name, const std::string& servicesXml,
                             std::string& out) {
  return server_ && server_->RemoveServices(name, servicesXml, out);
}

std::string Session::GetServiceProviders() {
  return server_ ? server_->GetServiceProviders() : std::string();
}

std::string Session::GetServiceProviderInfo(const std::string& name) {
  return server_ ? server_->GetServiceProviderInfo(name) : std::string();
}

bool Session::GetServiceProvidersFor(const CallerIdentity& caller, const std::string& serviceName,
                                     std::string& out) {
  const std::string line =
      GU::Format("'%s' on '%s' using application '%s' requested for service '%s'",
                 Info("UserName").c_str(), Info("MachineName").c_str(),
                 Info("Application").c_str(), serviceName.c_str());
  Report(kProvidersForSource, "%s", line.c_str());
  if (server_ == nullptr) return false;
  const bool found = server_->GetServiceProvidersFor(caller, serviceName, out);
  if (!found) Report(kProvidersForSource, "%s", out.c_str());
  return found;
}

std::string Session::GetServices(const std::string& providerName) {
  return server_ ? server_->GetServices(providerName) : std::string();
}

std::string Session::GetServiceInfo(const std::string& providerName,
                                    const std::string& serviceName) {
  return server_ ? server_->GetServiceInfo(providerName, serviceName) : std::string();
}

}  // namespace Korvane::Pictora::ServerCore
