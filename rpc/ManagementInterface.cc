#include "rpc/ManagementInterface.h"

#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "admin/AdminStatusCodes.h"
#include "rpc/ManagementAudit.h"
#include "rpc/ReplyText.h"
#include "rpc/ServerInterface.h"
#include "rpc/ServerProcedureShapes.h"
#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {
namespace {

using DceRpc::Arguments;
using DceRpc::CallContext;
using ServerCore::ServerManagerProxy;

// Where a procedure's status text and, for the long ones, its size and buffer are.
struct StatusPlace {
  size_t status;
  size_t size = 0;
  size_t buffer = 0;
};

// What the audit line of a procedure names: its number and the parameter holding the service or
// provider it acts on, if any.
struct AuditPlace {
  uint16_t opnum;
  std::optional<size_t> target = std::nullopt;
};

// A handler with the procedure number it serves.
struct NumberedHandler {
  uint16_t opnum;
  DceRpc::Handler handler;
};

void WriteStatus(Arguments& args, size_t index, const std::string& status) {
  args.SetText(index, CutMiddle(status, kMaxErrorText).substr(0, args.Capacity(index)));
}

std::string NotInitialized() {
  GeneralUtilityLib::Status status("ServerManagerProxy");
  status.Add(ServerCore::kFacadeNotInitialized, "The ServerManagerProxy has not been initialized.");
  return status.ToXml();
}

// The audit entry as far as it is known before the call: the session may be gone afterwards.
ManagementCall BeginAudit(const AuditPlace& place, const ServerManagerProxy* proxy, const CallContext& context,
                          const Arguments& args) {
  ManagementCall call;
  call.opnum = place.opnum;
  if (place.target) call.target = args.Text(*place.target);
  // Every procedure but the opening one names its session first.
  if (place.opnum == ServerOp::kManagerOpenSession) {
    call.caller = ServerCore::ManagementCaller::FromSessionInfo(args.Text(OpenSessionParam::kInfo));
  } else if (proxy != nullptr) {
    call.caller = proxy->SessionCaller(args.Text(0)).value_or(ServerCore::ManagementCaller{});
  }
  call.address = context.hasCredentials ? GeneralUtilityLib::Format("the local channel (uid %u)", context.uid)
                                        : context.peerAddress;
  return call;
}

void EndAudit(ManagementCall& call, bool ok, const std::string& status) {
  call.ok = ok;
  if (!ok) call.statusXml = status;
  Audit(call);
}

// A boolean procedure: `body` calls the facade with a fresh status text.
template <typename Body>
NumberedHandler Boolean(FacadeSource facade, AuditPlace place, size_t statusIndex, Body body) {
  return {
      place.opnum, [facade = std::move(facade), place, statusIndex, body](const CallContext& context, Arguments& args) {
        ServerManagerProxy* proxy = facade();
        ManagementCall audit = BeginAudit(place, proxy, context, args);
        std::string status;
        bool done = false;
        try {
          // A body that wants to know who calls takes the call's context too.
          if constexpr (std::is_invocable_v<Body, ServerManagerProxy&, const CallContext&, Arguments&, std::string&>) {
            done = proxy != nullptr && body(*proxy, context, args, status);
          } else {
            done = proxy != nullptr && body(*proxy, args, status);
          }
        } catch (...) {
          EndAudit(audit, false, status);
          return args.SetResultSmall(0);
        }
        if (proxy == nullptr) status = NotInitialized();
        EndAudit(audit, done, status);
        if (!done) WriteStatus(args, statusIndex, status);
        args.SetResultSmall(done ? 1 : 0);
      }};
}

// A procedure answering a text by buffer reply; an empty text is a failure.
template <typename Body>
NumberedHandler Text(FacadeSource facade, AuditPlace place, StatusPlace statusPlace, Body body) {
  return {place.opnum,
          [facade = std::move(facade), place, statusPlace, body](const CallContext& context, Arguments& args) {
            ServerManagerProxy* proxy = facade();
            ManagementCall audit = BeginAudit(place, proxy, context, args);
            std::string status;
            std::string text;
            try {
              if (proxy != nullptr) text = body(*proxy, context, args, status);
            } catch (...) {
              EndAudit(audit, false, status);
              return args.SetResultLong(-1);
            }
            if (proxy == nullptr) status = NotInitialized();
            EndAudit(audit, !text.empty(), status);
            if (text.empty()) {
              WriteStatus(args, statusPlace.status, status);
              return args.SetResultLong(-1);
            }
            std::string copied;
            const int32_t result = CopyToBuffer(text, args.Long(statusPlace.size), copied);
            if (result == 0) args.SetText(statusPlace.buffer, std::move(copied));
            args.SetResultLong(result);
          }};
}

}  // namespace

void AddManagementProcedures(DceRpc::InterfaceDefinition& definition, FacadeSource facade) {
  using A = Arguments;
  using S = std::string;
  using F = ServerManagerProxy;
  namespace O = ServerOp;
  auto add = [&](NumberedHandler numbered) {
    definition.procedures[numbered.opnum] =
        DceRpc::Procedure{ServerProcedureSpec(numbered.opnum), std::move(numbered.handler)};
  };
  const StatusPlace sessionBuffer{SessionBufferParam::kError, SessionBufferParam::kSize, SessionBufferParam::kBuffer};

  add(Boolean(facade, {O::kManagerOpenSession}, OpenSessionParam::kError,
              [](F& f, const CallContext& c, A& a, S& status) {
                std::string id;
                if (!f.OpenSession(a.Text(OpenSessionParam::kInfo), ToCallerIdentity(c), id, status)) return false;
                a.SetText(OpenSessionParam::kSessionId, id.substr(0, a.Capacity(OpenSessionParam::kSessionId)));
                return true;
              }));
  add(Boolean(facade, {O::kManagerCloseSession}, SessionStatusParam::kStatus,
              [](F& f, A& a, S& status) { return f.CloseSession(a.Text(SessionStatusParam::kSession), status); }));
  add(Text(facade, {O::kGetServerInfo}, sessionBuffer, [](F& f, const CallContext& c, A& a, S& status) {
    return f.GetServerInfo(ToCallerIdentity(c), a.Text(SessionBufferParam::kSession), status);
  }));
  add(Boolean(facade, {O::kCreateServiceProvider, CreateProviderParam::kName}, CreateProviderParam::kStatus,
              [](F& f, A& a, S& status) {
                namespace P = CreateProviderParam;
                return f.CreateServiceProvider(a.Text(P::kSession), a.Text(P::kMachine), a.Text(P::kEndpoint),
                                               a.Text(P::kName), status);
              }));
  // 29-31, 33, 38, 41, 42, 44: a session and one text, which names what they act on unless it is
  // a document.
  using NameOperation = bool (F::*)(const S&, const S&, S&);
  const std::optional<size_t> named = NameParam::kName;
  for (const auto& [opnum, operation, target] : {std::tuple<uint16_t, NameOperation, std::optional<size_t>>{
                                                     O::kDeleteServiceProvider, &F::DeleteServiceProvider, named},
                                                 {O::kStartServiceProvider, &F::StartServiceProvider, named},
                                                 {O::kStopServiceProvider, &F::StopServiceProvider, named},
                                                 {O::kUpdateServerConfigXml, &F::UpdateServerConfigXml, std::nullopt},
                                                 {O::kUpdateServicesXml, &F::UpdateServicesXml, std::nullopt},
                                                 {O::kStartService, &F::StartService, named},
                                                 {O::kStopService, &F::StopService, named},
                                                 {O::kRefreshService, &F::RefreshService, named}}) {
    add(Boolean(facade, {opnum, target}, NameParam::kError, [operation = operation](F& f, A& a, S& status) {
      return (f.*operation)(a.Text(NameParam::kSession), a.Text(NameParam::kName), status);
    }));
  }
  // 32, 36, 37: a text of the session.
  using SessionText = S (F::*)(const S&, S&);
  for (const auto& [opnum, operation] :
       {std::pair<uint16_t, SessionText>{O::kGetServerConfigXml, &F::GetServerConfigXml},
        {O::kGetServiceProvidersInfo, &F::GetServiceProvidersInfo},
        {O::kGetServicesXml, &F::GetServicesXml}}) {
    add(Text(facade, {opnum}, sessionBuffer, [operation = operation](F& f, const CallContext&, A& a, S& status) {
      return (f.*operation)(a.Text(SessionBufferParam::kSession), status);
    }));
  }
  add(Text(facade, {O::kGetServiceProviderConfigXml, NameBufferParam::kName},
           {NameBufferParam::kError, NameBufferParam::kSize, NameBufferParam::kBuffer},
           [](F& f, const CallContext&, A& a, S& status) {
             return f.GetServiceProviderConfigXml(a.Text(NameBufferParam::kSession), a.Text(NameBufferParam::kName),
                                                  status);
           }));
  add(Boolean(facade, {O::kUpdateServiceProviderConfigXml, TwoTextsStatusParam::kFirst}, TwoTextsStatusParam::kStatus,
              [](F& f, A& a, S& status) {
                namespace P = TwoTextsStatusParam;
                return f.UpdateServiceProviderConfigXml(a.Text(P::kSession), a.Text(P::kFirst), a.Text(P::kSecond),
                                                        status);
              }));
  add(Boolean(facade, {O::kManagerAddService, AddServiceParam::kName}, AddServiceParam::kStatus,
              [](F& f, A& a, S& status) {
                namespace P = AddServiceParam;
                return f.AddService(a.Text(P::kSession), a.Text(P::kSource), a.Text(P::kName), a.Text(P::kProperties),
                                    a.Text(P::kProviders), status);
              }));
  add(Boolean(facade, {O::kManagerRemoveService, TwoTextsStatusParam::kFirst}, TwoTextsStatusParam::kStatus,
              [](F& f, A& a, S& status) {
                namespace P = TwoTextsStatusParam;
                return f.RemoveService(a.Text(P::kSession), a.Text(P::kFirst), a.Text(P::kSecond), status);
              }));
  add(Boolean(facade, {O::kGetServiceName, ServiceNameParam::kService}, ServiceNameParam::kStatus,
              [](F& f, A& a, S& status) {
                namespace P = ServiceNameParam;
                const std::string name = f.GetServiceName(a.Text(P::kSession), a.Text(P::kService), status);
                if (name.empty()) return false;
                a.SetText(P::kName, name.substr(0, a.Capacity(P::kName)));
                return true;
              }));
  add(Boolean(facade, {O::kRefreshAllServices}, SessionStatusParam::kStatus, [](F& f, A& a, S& status) {
    return f.RefreshAllServices(a.Text(SessionStatusParam::kSession), status);
  }));
}

}  // namespace Korvane::Pictora::Rpc
