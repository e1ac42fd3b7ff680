// The server's procedure interface on the runtime: procedures 0-24, 46 and 47 with the common
// frame (owned text copies, session lookup, a fresh out text per call) and the reply rules
// (buffer reply, error texts cut in the middle and written only on failure).
//
// Rules every procedure keeps:
// - An unknown session answers 0 or -1 and touches no out parameter: in/out texts go back
//   exactly as the caller sent them.
// - An in/out text is never answered longer than the caller sent it. A version or session
//   identifier that does not fit the caller's placeholder is cut to its length (the caller
//   broke the contract by sending a short placeholder; the call itself still succeeds).
// - A length + data text without a NUL is taken whole.
// - An exception from the core is not caught: the runtime answers it with a fault.
// Procedures 5-7 are not registered, so the runtime answers them as an operation number out of
// range. The management procedures 25-45 are those of ManagementInterface.h.
//
// Thread safety: the handlers keep no state and run on many worker threads at once.
#pragma once

#include <functional>

#include "dcerpc/Interface.h"
#include "rpc/ManagementInterface.h"
#include "servercore/CallerIdentity.h"
#include "servercore/IServer.h"

namespace Korvane::Pictora::Rpc {

// Gives the core a call works on; a call that finds none fails with a fault.
using CoreSource = std::function<ServerCore::IServer*()>;

// The interface with every procedure, its handlers reaching the core through `core` and the
// management facade through `facade` (by default the published ones).
DceRpc::InterfaceDefinition ServerInterfaceDefinition(CoreSource core = {}, FacadeSource facade = {});

// Who is calling, as the core's access checks see it.
ServerCore::CallerIdentity ToCallerIdentity(const DceRpc::CallContext& context);

}  // namespace Korvane::Pictora::Rpc
