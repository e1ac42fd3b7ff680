#include "tools/provider/Registration.h"

#include <algorithm>
#include <cstdio>

#include "dcerpc/Status.h"
#include "interfaces/ServerProcedureShapes.h"
#include "tools/provider/ProviderLog.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::Tools {

namespace Op = Rpc::ServerOp;

namespace {

// The wait before registering with the next server: short, as the provider is likely still in
// the shared registry and lookups keep sending clients to it, but spread over a fleet that
// lost the same server.
constexpr std::chrono::milliseconds kMoveDelayMax{1000};

bool ContainsIgnoringCase(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return GeneralUtilityLib::Equals(n, name, true); });
}

}  // namespace

Registration::Registration(const ProviderOptions& options, StandInProvider& provider, std::string endpoint)
    : options_(options),
      servers_(options.servers),
      client_(CurrentBinding()),
      provider_(provider),
      endpoint_(std::move(endpoint)),
      nextRegistration_(Clock::now()),
      nextUpdate_(Clock::now()),
      random_(std::random_device{}()) {}

DceRpc::Binding Registration::CurrentBinding() {
  DceRpc::Binding binding = servers_.CurrentBinding();
  binding.SetSourceAddress(options_.sourceAddress);
  return binding;
}

void Registration::Log(const std::string& line) { ProviderLog(options_.name, line); }

Registration::Clock::time_point Registration::Step() {
  try {
    if (!registered_ && Clock::now() >= nextRegistration_) {
      registered_ = Register();
      if (!registered_) ScheduleReregistration();
    } else if (registered_ && Clock::now() >= nextUpdate_) {
      Update();
    }
  } catch (const DceRpc::RpcError& error) {
    // The server is away (restarting, or gone): try it again later, or another one now.
    Log(std::string("server call failed: ") + error.what());
    if (servers_.Size() > 1) {
      MoveToNextServer();
    } else if (!registered_) {
      ScheduleReregistration();
    }
  }
  return registered_ ? nextUpdate_ : nextRegistration_;
}

bool Registration::Register() {
  std::string error;
  client_.ForgetSession();
  if (!client_.OpenSession(SessionInfoXml("PictoraProvider"), error)) {
    Log("could not open a session: " + error);
    return false;
  }
  if (!client_.NameData(Op::kAddServiceProvider, options_.name, ProviderXml(), error)) {
    // A registration of ours that an earlier, interrupted attempt left behind: replace it.
    if (!client_.RemoveServiceProvider(options_.name) ||
        !client_.NameData(Op::kAddServiceProvider, options_.name, ProviderXml(), error)) {
      Log("could not register: " + error);
      client_.CloseSession();
      return false;
    }
    Log("replaced an earlier registration under the same name");
  }
  Log("registered with session " + client_.SessionId() + " at endpoint " + endpoint_);
  BufferReply configuration = client_.NameBuffer(Op::kGetServiceProviderConfiguration, "", options_.name);
  Log(configuration.result == 0 ? "configuration: " + configuration.text : "no configuration file");
  std::vector<std::string> services = ServicesMeantForUs();
  provider_.SetServices(services);
  if (!services.empty() && !client_.NameData(Op::kAddServices, options_.name, ServicesXml(services), error)) {
    Log("could not register services: " + error);
  } else {
    for (const std::string& service : services) Log("registered service '" + service + "'");
  }
  nextUpdate_ = Clock::now() + options_.updatePeriod;
  serversFailedInARow_ = 0;
  return true;
}

std::vector<std::string> Registration::ServicesMeantForUs() {
  std::vector<std::string> services = options_.services;
  BufferReply reply = client_.NameBuffer(Op::kGetServicesForServiceProvider, "", options_.name);
  if (reply.result != 0) return services;
  GeneralUtilityLib::XmlDocument document;
  if (!document.LoadXml(reply.text)) return services;
  long count = document.CountNodes("//Services/Service");
  for (long i = 0; i < count; ++i) {
    std::string name = document.GetText("//Services/Service[" + std::to_string(i) + "]/Name", "");
    if (!name.empty() && !ContainsIgnoringCase(services, name)) services.push_back(name);
  }
  return services;
}

void Registration::Update() {
  std::string error;
  nextUpdate_ = Clock::now() + options_.updatePeriod;
  if (client_.NameData(Op::kUpdateServiceProviderInfo, options_.name, ProviderXml(), error)) return;
  if (client_.SessionKnown()) {
    Log("update refused: " + error);
    return;
  }
  Log("the server no longer knows this provider; registering again");
  registered_ = false;
  client_.ForgetSession();
  ScheduleReregistration();
}

void Registration::ScheduleReregistration() {
  auto low = options_.reregisterMin.count();
  auto high = std::max(low, options_.reregisterMax.count());
  std::uniform_int_distribution<long long> delay(low, high);
  nextRegistration_ = Clock::now() + std::chrono::milliseconds(delay(random_));
}

void Registration::MoveToNextServer() {
  const std::string from = servers_.CurrentAddress();
  servers_.MoveToNext();
  Log("server " + from + " stopped answering; moving to " + servers_.CurrentAddress());
  client_ = ServerClient(CurrentBinding());
  registered_ = false;
  if (++serversFailedInARow_ >= servers_.Size()) {
    serversFailedInARow_ = 0;
    ScheduleReregistration();
    return;
  }
  const auto high = std::min(kMoveDelayMax, options_.reregisterMax).count();
  std::uniform_int_distribution<long long> delay(0, high);
  nextRegistration_ = Clock::now() + std::chrono::milliseconds(delay(random_));
}

void Registration::Leave() {
  if (!registered_) return;
  registered_ = false;
  try {
    std::string error;
    std::vector<std::string> services = provider_.Services();
    if (!services.empty() && !client_.NameData(Op::kRemoveServices, options_.name, ServicesXml(services), error))
      Log("could not unregister services: " + error);
    if (!client_.RemoveServiceProvider(options_.name)) Log("could not unregister the provider");
    client_.CloseSession();
    Log("unregistered");
  } catch (const DceRpc::RpcError& error) {
    Log(std::string("could not unregister: ") + error.what());
  }
}

std::string Registration::ProviderXml() {
  char load[64];
  std::snprintf(load, sizeof load, "%g", provider_.CurrentLoad());
  return "<ServiceProvider><Config><Name>" + XmlEscape(options_.name) + "</Name><HostMachine>" +
         XmlEscape(options_.hostMachine) + "</HostMachine><Endpoint>" +
         XmlEscape(endpoint_) + "</Endpoint></Config><Dynamic><Load>" + load + "</Load><Updated>" +
         GeneralUtilityLib::TimeStamp() + "</Updated></Dynamic></ServiceProvider>";
}

std::string Registration::ServicesXml(const std::vector<std::string>& services) {
  std::string xml = "<Pictora><ImageServices>";
  for (const std::string& service : services) xml += "<Service><Name>" + XmlEscape(service) + "</Name></Service>";
  return xml + "</ImageServices></Pictora>";
}

}  // namespace Korvane::Pictora::Tools
