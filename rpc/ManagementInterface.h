// The management procedures 25-45 on the runtime: each looks its session up once, for its audit
// line and for the management facade, and hands it with its texts to the facade, which checks
// it. The facade's status text is written only when the call fails, cut to 4000 characters in
// the middle; the five procedures that return a text (27, 32, 34, 36, 37) answer by buffer
// reply, an empty text being a failure. A call before the facade exists fails with 56322; an
// exception that escapes the facade answers 0 or -1 without writing the status. Every call
// leaves one audit line (rpc/ManagementAudit.h).
//
// Thread safety: the handlers keep no state and run on many worker threads at once.
#pragma once

#include <functional>

#include "admin/ServerManagerProxy.h"
#include "dcerpc/Interface.h"

namespace Korvane::Pictora::Rpc {

// Gives the facade a call works on; null while there is none.
using FacadeSource = std::function<ServerCore::ServerManagerProxy*()>;

// Adds procedures 25-45 to the interface, their handlers reaching the facade through `facade`.
void AddManagementProcedures(DceRpc::InterfaceDefinition& definition, FacadeSource facade);

}  // namespace Korvane::Pictora::Rpc
