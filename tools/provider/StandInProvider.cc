#include "tools/provider/StandInProvider.h"

#include <thread>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "dcerpc/Status.h"
#include "interfaces/ProviderProcedureShapes.h"
#include "tools/common/ServerClient.h"
#include "tools/provider/ProviderLog.h"

namespace Korvane::Pictora::Tools {

using DceRpc::Arguments;
using GeneralUtilityLib::CriticalSectionLock;
namespace Op = Rpc::ProviderOp;

namespace {

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string LoadText(double load) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", load);
  return text;
}

}  // namespace

StandInProvider::StandInProvider(StandInSettings settings) : settings_(std::move(settings)) {}

DceRpc::InterfaceDefinition StandInProvider::Definition() {
  DceRpc::InterfaceDefinition definition;
  definition.id = Rpc::ProviderInterfaceId();
  for (uint16_t opnum = 0; opnum < Op::kCount; ++opnum) {
    definition.procedures[opnum] = DceRpc::Procedure{
        Rpc::ProviderSpecs::ForOpnum(opnum),
        [this, opnum](const DceRpc::CallContext&, Arguments& args) { Handle(opnum, args); }};
  }
  return definition;
}

void StandInProvider::SetEndpoint(const std::string& endpoint) {
  CriticalSectionLock lock(&section_);
  endpoint_ = endpoint;
}

void StandInProvider::SetServices(const std::vector<std::string>& services) {
  CriticalSectionLock lock(&section_);
  services_ = services;
}

std::vector<std::string> StandInProvider::Services() const {
  CriticalSectionLock lock(&section_);
  return services_;
}

void StandInProvider::Release() {
  CriticalSectionLock lock(&section_);
  released_ = true;
  releasedChanged_.NotifyAll();
}

void StandInProvider::HoldIfSilent() {
  if (!settings_.silent) return;
  CriticalSectionLock lock(&section_);
  while (!released_) releasedChanged_.Wait(section_);
  throw std::runtime_error("released unanswered");
}

void StandInProvider::CountCall() {
  CriticalSectionLock lock(&section_);
  int64_t now = NowSeconds();
  size_t slot = static_cast<size_t>(now) % kActivitySeconds;
  if (secondOfSlot_[slot] != now) {
    secondOfSlot_[slot] = now;
    callsInSecond_[slot] = 0;
  }
  ++callsInSecond_[slot];
}

double StandInProvider::CurrentLoad() {
  if (settings_.load) return *settings_.load;
  CriticalSectionLock lock(&section_);
  int64_t now = NowSeconds();
  int64_t calls = 0;
  for (size_t slot = 0; slot < kActivitySeconds; ++slot) {
    if (now - secondOfSlot_[slot] < static_cast<int64_t>(kActivitySeconds)) calls += callsInSecond_[slot];
  }
  return std::min(1.0, static_cast<double>(calls) / 1000.0);
}

std::string StandInProvider::InfoDocument(const std::string& level) {
  std::string endpoint;
  std::vector<std::string> services;
  {
    CriticalSectionLock lock(&section_);
    endpoint = endpoint_;
    services = services_;
  }
  std::string xml = "<Pictora><ServiceProvider Level=\"" + XmlEscape(level) + "\"><Basic><Name>" +
                    XmlEscape(settings_.name) + "</Name><HostMachine>" + XmlEscape(settings_.hostMachine) +
                    "</HostMachine><Endpoint>" + XmlEscape(endpoint) + "</Endpoint><Load>" +
                    LoadText(CurrentLoad()) + "</Load></Basic><Services>";
  for (const std::string& service : services) {
    xml += "<Service><Name>" + XmlEscape(service) + "</Name><State>Running</State></Service>";
  }
  return xml + "</Services></ServiceProvider></Pictora>";
}

void StandInProvider::GetInfo(Arguments& args) {
  std::string text = InfoDocument(args.Text(0));
  int32_t need = static_cast<int32_t>(text.size() + 1);
  if (args.Long(1) < need) {
    args.SetResultLong(need);
    return;
  }
  args.SetText(2, text + '\0');
  args.SetResultLong(0);
}

void StandInProvider::Handle(uint16_t opnum, Arguments& args) {
  HoldIfSilent();
  if (settings_.answerDelay.count() > 0) std::this_thread::sleep_for(settings_.answerDelay);
  CountCall();
  const std::string& name = settings_.name;
  switch (opnum) {
    case Op::kPing:
      if (settings_.refusePing) {
        ProviderLog(name, "ping refused");
        throw DceRpc::CallRefused(DceRpc::FaultStatus::kAccessDenied);
      }
      args.SetResultSmall(1);
      return;
    case Op::kGetLoad:
      args.SetDouble(0, CurrentLoad());
      return;
    case Op::kGetInfo:
      ProviderLog(name, "information requested at level '" + args.Text(0) + "'");
      GetInfo(args);
      return;
    case Op::kRefreshService:
      ProviderLog(name, "refresh service: " + args.Text(0));
      break;
    case Op::kStartService:
      ProviderLog(name, "start service '" + args.Text(2) + "' from '" + args.Text(1) + "' (caller '" +
                            args.Text(0) + "', properties " + args.Text(3) + ")");
      break;
    case Op::kStopService:
      ProviderLog(name, "stop service '" + args.Text(1) + "' (caller '" + args.Text(0) + "')");
      break;
    case Op::kRefreshAllServices:
      ProviderLog(name, "refresh all services (caller '" + args.Text(0) + "')");
      break;
    case Op::kRefreshConfiguration:
      ProviderLog(name, "refresh configuration (caller '" + args.Text(0) + "')");
      break;
    default:
      ProviderLog(name, "procedure " + std::to_string(opnum) + " called");
      break;
  }
  args.SetResultSmall(1);
}

}  // namespace Korvane::Pictora::Tools
