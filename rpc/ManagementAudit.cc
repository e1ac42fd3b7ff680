#include "rpc/ManagementAudit.h"

#include "global/IReporter.h"
#include "interfaces/ServerProcedureShapes.h"
#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {
namespace GU = GeneralUtilityLib;
namespace {

constexpr std::size_t kMaxValue = 200;

std::string Quoted(const std::string& value) {
  std::string clean;
  for (const char c : value) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) clean += c;
    if (clean.size() == kMaxValue) {
      clean += "...";
      break;
    }
  }
  return "'" + clean + "'";
}

std::string Outcome(const ManagementCall& call) {
  if (call.ok) return "ok";
  GU::Status status;
  if (!status.AddXml(call.statusXml) || status.Count() == 0 || status.GetItem(0).id == 0) return "refused";
  return GU::Format("refused %06X", status.GetItem(0).id);
}

}  // namespace

std::string AuditLine(const ManagementCall& call) {
  std::string line = GU::Format("management call %u %s", call.opnum, ServerProcedureName(call.opnum));
  if (!call.target.empty()) line += " on " + Quoted(call.target);
  line += " by user " + Quoted(call.caller.userName) + " on machine " + Quoted(call.caller.machineName);
  return line + " from " + call.address + ": " + Outcome(call);
}

void Audit(const ManagementCall& call) noexcept {
  try {
    Global::ReportToGlobal("Korvane::Pictora::Rpc::ManagementAudit", AuditLine(call));
  } catch (...) {
  }
}

}  // namespace Korvane::Pictora::Rpc
