#include "servercore/Session.h"

#include "global/MachineIdentity.h"
#include "servercore/AllowList.h"
#include "servercore/StatusCodes.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

Session::Session() : sessionId_(Global::NewUniqueId()) {}

bool Session::Init(const std::string& sessionInfoXml, const std::string& configFilePath) {
  status_.Reset("ServerCore.Session.Init");
  if (sessionInfoXml.empty()) return true;
  // A text that does not load simply yields no values.
  sessionInfo_.LoadXml(sessionInfoXml, "//SessionInfo");
  if (!GU::Equals(sessionInfo_.Get("Application"), "ServerManager", true)) return true;
  return CheckAllowList(configFilePath);
}

bool Session::CheckAllowList(const std::string& configFilePath) {
  // Read afresh for every server-manager session so that a changed list applies at once.
  Global::NameValueMap licenseManager;
  licenseManager.LoadFile(configFilePath, "//LicenseManager");
  const CallerMachine caller{sessionInfo_.Get("MachineName"), sessionInfo_.Get("IPAddress"),
                             sessionInfo_.Get("FQDN")};
  const std::string allowList = licenseManager.Get("ServerManagerAllowList");
  if (AllowListAdmits(allowList, caller, Global::LocalIdentities()) &&
      (!peer_ || AllowListAdmitsPeer(allowList, *peer_, Global::LocalIdentities()))) {
    return true;
  }
  status_.Add(kStatusAccessDenied,
              GU::Format("The application '%s' running  on host '%s' does not have access "
                         "rights on the Server running on host '%s'",
                         sessionInfo_.Get("Application").c_str(), caller.machineName.c_str(),
                         Global::LocalHostName().c_str()));
  return false;
}

bool Session::NotifySession(bool, const std::string&) { return true; }

std::string LookupRequestLine(const ISession& session, const std::string& serviceName) {
  return GU::Format("'%s' on '%s' using application '%s' requested for service '%s'",
                    session.Info("UserName").c_str(), session.Info("MachineName").c_str(),
                    session.Info("Application").c_str(), serviceName.c_str());
}

}  // namespace Korvane::Pictora::ServerCore
