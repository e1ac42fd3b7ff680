#include "rpc/ManagementInterface.h"

#include <string>
#include <type_traits>
#include <utility>

#include "admin/AdminStatusCodes.h"
#include "rpc/ReplyText.h"
#include "rpc/ServerInterface.h"
#include "rpc/ServerProcedureShapes.h"
#include "util/Status.h"

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

void WriteStatus(Arguments& args, size_t index, const std::string& status) {
  args.SetText(index, CutMiddle(status, kMaxErrorText).substr(0, args.Capacity(index)));
}

std::string NotInitialized() {
  GeneralUtilityLib::Status status("ServerManagerProxy");
  status.Add(ServerCore::kFacadeNotInitialized, "The ServerManagerProxy has not been initialized.");
  return status.ToXml(false);
}

// A boolean procedure: `body` calls the facade with a fresh status text.
template <typename Body>
DceRpc::Handler Boolean(FacadeSource facade, size_t statusIndex, Body body) {
  return [facade = std::move(facade), statusIndex, body](const CallContext& context, Arguments& args) {
    ServerManagerProxy* proxy = facade();
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
      return args.SetResultSmall(0);
    }
    if (proxy == nullptr) status = NotInitialized();
    if (!done) WriteStatus(args, statusIndex, status);
    args.SetResultSmall(done ? 1 : 0);
  };
}

// A procedure answering a text by buffer reply; an empty text is a failure.
template <typename Body>
DceRpc::Handler Text(FacadeSource facade, StatusPlace place, Body body) {
  return [facade = std::move(facade), place, body](const CallContext& context, Arguments& args) {
    ServerManagerProxy* proxy = facade();
    std::string status;
    std::string text;
    try {
      if (proxy != nullptr) text = body(*proxy, context, args, status);
    } catch (...) {
      return args.SetResultLong(-1);
    }
    if (proxy == nullptr) status = NotInitialized();
    if (text.empty()) {
      WriteStatus(args, place.status, status);
      return args.SetResultLong(-1);
    }
    std::string copied;
    const int32_t result = CopyToBuffer(text, args.Long(place.size), copied);
    if (result == 0) args.SetText(place.buffer, std::move(copied));
    args.SetResultLong(result);
  };
}

}  // namespace

void AddManagementProcedures(DceRpc::InterfaceDefinition& definition, FacadeSource facade) {
  using A = Arguments;
  using S = std::string;
  using F = ServerManagerProxy;
  namespace O = ServerOp;
  auto add = [&](uint16_t opnum, DceRpc::Handler handler) {
    definition.procedures[opnum] = DceRpc::Procedure{ServerProcedureSpec(opnum), std::move(handler)};
  };
  const StatusPlace sessionBuffer{SessionBufferParam::kError, SessionBufferParam::kSize, SessionBufferParam::kBuffer};

  add(O::kManagerOpenSession, Boolean(facade, OpenSessionParam::kError, [](F& f, const CallContext& c, A& a, S& status) {
        std::string id;
        if (!f.OpenSession(a.Text(OpenSessionParam::kInfo), ToCallerIdentity(c), id, status)) return false;
        a.SetText(OpenSessionParam::kSessionId, id.substr(0, a.Capacity(OpenSessionParam::kSessionId)));
        return true;
      }));
  add(O::kManagerCloseSession, Boolean(facade, SessionStatusParam::kStatus, [](F& f, A& a, S& status) {
        return f.CloseSession(a.Text(SessionStatusParam::kSession), status);
      }));
  add(O::kGetServerInfo, Text(facade, sessionBuffer, [](F& f, const CallContext& c, A& a, S& status) {
        return f.GetServerInfo(ToCallerIdentity(c), a.Text(SessionBufferParam::kSession), status);
      }));
  add(O::kCreateServiceProvider, Boolean(facade, CreateProviderParam::kStatus, [](F& f, A& a, S& status) {
        namespace P = CreateProviderParam;
        return f.CreateServiceProvider(a.Text(P::kSession), a.Text(P::kMachine), a.Text(P::kEndpoint), a.Text(P::kName),
                                       status);
      }));
  // 29-31, 33, 38, 41, 42, 44: a session and one text.
  using NameOperation = bool (F::*)(const S&, const S&, S&);
  for (const auto& [opnum, operation] :
       {std::pair<uint16_t, NameOperation>{O::kDeleteServiceProvider, &F::DeleteServiceProvider},
        {O::kStartServiceProvider, &F::StartServiceProvider},
        {O::kStopServiceProvider, &F::StopServiceProvider},
        {O::kUpdateServerConfigXml, &F::UpdateServerConfigXml},
        {O::kUpdateServicesXml, &F::UpdateServicesXml},
        {O::kStartService, &F::StartService},
        {O::kStopService, &F::StopService},
        {O::kRefreshService, &F::RefreshService}}) {
    add(opnum, Boolean(facade, NameParam::kError, [operation = operation](F& f, A& a, S& status) {
          return (f.*operation)(a.Text(NameParam::kSession), a.Text(NameParam::kName), status);
        }));
  }
  // 32, 36, 37: a text of the session.
  using SessionText = S (F::*)(const S&, S&);
  for (const auto& [opnum, operation] :
       {std::pair<uint16_t, SessionText>{O::kGetServerConfigXml, &F::GetServerConfigXml},
        {O::kGetServiceProvidersInfo, &F::GetServiceProvidersInfo},
        {O::kGetServicesXml, &F::GetServicesXml}}) {
    add(opnum, Text(facade, sessionBuffer, [operation = operation](F& f, const CallContext&, A& a, S& status) {
          return (f.*operation)(a.Text(SessionBufferParam::kSession), status);
        }));
  }
  add(O::kGetServiceProviderConfigXml,
      Text(facade, {NameBufferParam::kError, NameBufferParam::kSize, NameBufferParam::kBuffer},
           [](F& f, const CallContext&, A& a, S& status) {
             return f.GetServiceProviderConfigXml(a.Text(NameBufferParam::kSession), a.Text(NameBufferParam::kName),
                                                  status);
           }));
  add(O::kUpdateServiceProviderConfigXml, Boolean(facade, TwoTextsStatusParam::kStatus, [](F& f, A& a, S& status) {
        namespace P = TwoTextsStatusParam;
        return f.UpdateServiceProviderConfigXml(a.Text(P::kSession), a.Text(P::kFirst), a.Text(P::kSecond), status);
      }));
  add(O::kManagerAddService, Boolean(facade, AddServiceParam::kStatus, [](F& f, A& a, S& status) {
        namespace P = AddServiceParam;
        return f.AddService(a.Text(P::kSession), a.Text(P::kSource), a.Text(P::kName), a.Text(P::kProperties),
                            a.Text(P::kProviders), status);
      }));
  add(O::kManagerRemoveService, Boolean(facade, TwoTextsStatusParam::kStatus, [](F& f, A& a, S& status) {
        namespace P = TwoTextsStatusParam;
        return f.RemoveService(a.Text(P::kSession), a.Text(P::kFirst), a.Text(P::kSecond), status);
      }));
  add(O::kGetServiceName, Boolean(facade, ServiceNameParam::kStatus, [](F& f, A& a, S& status) {
        namespace P = ServiceNameParam;
        const std::string name = f.GetServiceName(a.Text(P::kSession), a.Text(P::kService), status);
        if (name.empty()) return false;
        a.SetText(P::kName, name.substr(0, a.Capacity(P::kName)));
        return true;
      }));
  add(O::kRefreshAllServices, Boolean(facade, SessionStatusParam::kStatus, [](F& f, A& a, S& status) {
        return f.RefreshAllServices(a.Text(SessionStatusParam::kSession), status);
      }));
}

}  // namespace Korvane::Pictora::Rpc
