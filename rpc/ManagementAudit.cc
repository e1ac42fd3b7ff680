#include "rpc/ManagementAudit.h"

#include "global/IReporter.h"
#include "interfaces/ServerProcedureShapes.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {
namespace GU = GeneralUtilityLib;
namespace {

constexpr std::size_t kMaxValue = 200;

// Control characters go, `'` and `\` are written `\'` and `\\`: a quoted value ends at the first
// `'` no backslash escapes, so no caller can close the quote early and write a tail of their own.
std::string Quoted(const std::string& value) {
  std::string quoted = "'";
  std::size_t kept = 0;
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) continue;
    if (kept++ == kMaxValue) {
      quoted += "...";
      break;
    }
    if (c == '\'' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

// The first item's ID as the server's own status XML writes it (six hexadecimal digits), read
// off the text: the ID comes before any of the item's caller-supplied text.
std::string FirstId(std::string_view statusXml) {
  constexpr std::string_view kOpen = "<ID>", kClose = "</ID>";
  const std::size_t begin = statusXml.find(kOpen);
  const std::size_t end = begin == std::string_view::npos ? begin : statusXml.find(kClose, begin);
  if (end == std::string_view::npos) return {};
  const std::string_view id = statusXml.substr(begin + kOpen.size(), end - begin - kOpen.size());
  const bool hex = !id.empty() && id.size() <= 8 && id.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
  return hex && id.find_first_not_of('0') != std::string_view::npos ? std::string(id) : std::string();
}

std::string Outcome(const ManagementCall& call) {
  if (call.ok) return "ok";
  const std::string id = FirstId(call.statusXml);
  return id.empty() ? "refused" : "refused " + id;
}

RefusalCounts& Refusals() {
  static RefusalCounts counts;
  return counts;
}

}  // namespace

void CountRefusal(std::string_view statusXml) noexcept {
  const std::string id = FirstId(statusXml);
  Refusals().Count(static_cast<uint32_t>(id.empty() ? 0 : std::stoul(id, nullptr, 16)));
}

std::vector<RefusalCounts::Row> RefusedManagementCalls() { return Refusals().Rows(); }

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
