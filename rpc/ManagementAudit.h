// The audit trail of the management procedures: one log line per call, through the global
// reporter like every other report, so it reaches the log file (and the console or journal):
//   management call 30 StartServiceProvider on 'P1' by user 'ann' on machine 'WS1' from 10.0.0.7:
//   refused 00DB02
// Who and which machine are what the management session's information said (not checked); the
// address is the connection's own. Quoted values lose their control characters, are cut to 200
// characters (then "..." follows) and have `'` and `\` escaped as `\'` and `\\`, so that no caller
// can flood lines or forge one: a value ends at the first `'` no backslash escapes.
#pragma once

#include <cstdint>
#include <string>

#include <string_view>
#include <vector>

#include "admin/ManagementSessions.h"
#include "rpc/StatusCounts.h"

namespace Korvane::Pictora::Rpc {

struct ManagementCall {
  uint16_t opnum = 0;
  std::string target;  // the service or provider named, if any
  ServerCore::ManagementCaller caller;
  std::string address;  // the connection's peer
  bool ok = false;
  std::string statusXml;  // the failure's status record
};

std::string AuditLine(const ManagementCall& call);
void Audit(const ManagementCall& call) noexcept;

// The management calls refused in this process, by the first status ID of their answer (0: none
// readable, or beyond the table), for the metrics page.
using RefusalCounts = StatusCounts<16>;
void CountRefusal(std::string_view statusXml) noexcept;
std::vector<RefusalCounts::Row> RefusedManagementCalls();

}  // namespace Korvane::Pictora::Rpc
