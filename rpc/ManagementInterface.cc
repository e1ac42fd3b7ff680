#include "rpc/ManagementInterface.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "admin/AdminStatusCodes.h"
#include "interfaces/ServerProcedureShapes.h"
#include "rpc/ManagementAudit.h"
#include "rpc/ReplyText.h"
#include "rpc/ServerInterface.h"
#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {
namespace {

using DceRpc::Arguments;
using DceRpc::CallContext;
using ServerCore::ManagementSession;
using ServerCore::ServerManagerProxy;

// Every procedure but the opening one names its session in its first parameter.
constexpr size_t kSessionParam = 0;

// Where a procedure's status text and, for the text procedures, its size and buffer are.
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

// One management call as a procedure's body sees it.
struct ManagementRequest {
  const CallContext& context;
  Arguments& args;
  const ManagementSession& session;  // empty for the opening procedure

  const std::string& Text(size_t index) const { return args.Text(index); }
};

void WriteStatus(Arguments& args, size_t index, const std::string& status) {
  args.SetText(index, CutMiddle(status, kMaxErrorText).substr(0, args.Capacity(index)));
}

std::string NotInitialized() {
  GeneralUtilityLib::Status status("ServerManagerProxy");
  status.Add(ServerCore::kFacadeNotInitialized, "The ServerManagerProxy has not been initialized.");
  return status.ToXml();
}

// The session a call names, looked up once: its caller goes into the audit, the session to the
// facade's check. The audit takes it before the call, as the call may close it.
ManagementSession SessionOfCall(uint16_t opnum, ServerManagerProxy* facade, const Arguments& args) {
  if (opnum == ServerOp::kManagerOpenSession) return {};
  if (facade == nullptr) return {args.Text(kSessionParam), std::nullopt};
  return facade->FindSession(args.Text(kSessionParam));
}

ManagementCall BeginAudit(const AuditPlace& place, const ManagementSession& session, const CallContext& context,
                          const Arguments& args) {
  ManagementCall call;
  call.opnum = place.opnum;
  if (place.target) call.target = args.Text(*place.target);
  call.caller = place.opnum == ServerOp::kManagerOpenSession
                    ? ServerCore::ManagementCaller::FromSessionInfo(args.Text(OpenSessionParam::kInfo))
                    : session.caller.value_or(ServerCore::ManagementCaller{});
  call.address = context.hasCredentials ? GeneralUtilityLib::Format("the local channel (uid %u)", context.uid)
                                        : context.peerAddress;
  return call;
}

void EndAudit(ManagementCall& call, bool ok, const std::string& status) {
  call.ok = ok;
  if (!ok) call.statusXml = status;
  if (!ok) CountRefusal(status);
  Audit(call);
}

// Fills an interface definition with the management procedures, each reaching the facade
// through the same source.
class ManagementProcedures {
 public:
  ManagementProcedures(DceRpc::InterfaceDefinition& definition, FacadeSource facade)
      : definition_(definition), facade_(std::move(facade)) {}

  void AddSessionProcedures();
  void AddServiceProcedures();
  void AddProviderProcedures();
  void AddConfigurationProcedures();

 private:
  // A procedure answering success or failure: `body(facade, request, status)` returns whether
  // the facade succeeded and fills `status` when it did not.
  template <typename Body>
  void AddBoolean(AuditPlace place, size_t statusIndex, Body body);
  // A procedure answering a text by buffer reply: `body` returns the text, empty on failure.
  template <typename Body>
  void AddText(AuditPlace place, StatusPlace statusPlace, Body body);

  // The facade operations that take a session and one text (NameParam), which names what they act
  // on unless it is a document.
  using SessionTextOperation = bool (ServerManagerProxy::*)(const ManagementSession&, const std::string&, std::string&);
  void AddNamed(uint16_t opnum, SessionTextOperation operation);
  void AddDocumentUpdate(uint16_t opnum, SessionTextOperation operation);
  // The facade operations that answer a text of the session alone.
  using SessionReadOperation = std::string (ServerManagerProxy::*)(const ManagementSession&, std::string&);
  void AddSessionRead(uint16_t opnum, SessionReadOperation operation);

  void Add(uint16_t opnum, DceRpc::Handler handler) {
    definition_.procedures[opnum] = DceRpc::Procedure{ServerProcedureSpec(opnum), std::move(handler)};
  }

  DceRpc::InterfaceDefinition& definition_;
  const FacadeSource facade_;
};

bool Succeeded(bool done) { return done; }
bool Succeeded(const std::string& text) { return !text.empty(); }  // the text procedures fail with no text

// What every management call shares: the facade (when there is one), the session looked up
// once, and the audit line, written before returning unless `unaudited(result)` says the call
// only asked a question a following call repeats. Nothing when the body threw: the audit names
// the failure and the procedure answers without writing its status.
template <typename Result, typename Body, typename Unaudited>
std::optional<Result> RunAudited(const FacadeSource& facadeSource, const AuditPlace& place, const CallContext& context,
                                 Arguments& args, std::string& status, const Body& body, const Unaudited& unaudited) {
  ServerManagerProxy* facade = facadeSource();
  const ManagementSession session = SessionOfCall(place.opnum, facade, args);
  ManagementCall audit = BeginAudit(place, session, context, args);
  Result result{};
  try {
    if (facade != nullptr) result = body(*facade, ManagementRequest{context, args, session}, status);
  } catch (...) {
    EndAudit(audit, false, status);
    return std::nullopt;
  }
  if (facade == nullptr) status = NotInitialized();
  if (!unaudited(result)) EndAudit(audit, Succeeded(result), status);
  return result;
}

template <typename Body>
void ManagementProcedures::AddBoolean(AuditPlace place, size_t statusIndex, Body body) {
  Add(place.opnum, [facadeSource = facade_, place, statusIndex, body](const CallContext& context, Arguments& args) {
    std::string status;
    const std::optional<bool> done =
        RunAudited<bool>(facadeSource, place, context, args, status, body, [](bool) { return false; });
    if (!done) return args.SetResultSmall(0);
    if (!*done) WriteStatus(args, statusIndex, status);
    args.SetResultSmall(*done ? 1 : 0);
  });
}

template <typename Body>
void ManagementProcedures::AddText(AuditPlace place, StatusPlace statusPlace, Body body) {
  Add(place.opnum, [facadeSource = facade_, place, statusPlace, body](const CallContext& context, Arguments& args) {
    std::string status;
    // A read is two calls, the first with a buffer too small that learns the answer's size: only
    // the call that delivers (or fails) is audited, so one read leaves one line.
    const auto sizeQuestion = [&args, statusPlace](const std::string& answer) {
      return !answer.empty() &&
             static_cast<int64_t>(args.Long(statusPlace.size)) < static_cast<int64_t>(answer.size()) + 1;
    };
    const std::optional<std::string> text =
        RunAudited<std::string>(facadeSource, place, context, args, status, body, sizeQuestion);
    if (!text) return args.SetResultLong(-1);
    if (text->empty()) {
      WriteStatus(args, statusPlace.status, status);
      return args.SetResultLong(-1);
    }
    std::string copied;
    const int32_t result = CopyToBuffer(*text, args.Long(statusPlace.size), copied);
    if (result == 0) args.SetText(statusPlace.buffer, std::move(copied));
    args.SetResultLong(result);
  });
}

void ManagementProcedures::AddNamed(uint16_t opnum, SessionTextOperation operation) {
  AddBoolean({opnum, NameParam::kName}, NameParam::kError,
             [operation](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return (facade.*operation)(request.session, request.Text(NameParam::kName), status);
             });
}

void ManagementProcedures::AddDocumentUpdate(uint16_t opnum, SessionTextOperation operation) {
  AddBoolean({opnum}, NameParam::kError,
             [operation](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return (facade.*operation)(request.session, request.Text(NameParam::kName), status);
             });
}

void ManagementProcedures::AddSessionRead(uint16_t opnum, SessionReadOperation operation) {
  AddText({opnum}, {SessionBufferParam::kError, SessionBufferParam::kSize, SessionBufferParam::kBuffer},
          [operation](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
            return (facade.*operation)(request.session, status);
          });
}

void ManagementProcedures::AddSessionProcedures() {
  AddBoolean(
      {ServerOp::kManagerOpenSession}, OpenSessionParam::kError,
      [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
        std::string id;
        if (!facade.OpenSession(request.Text(OpenSessionParam::kInfo), ToCallerIdentity(request.context), id, status)) {
          return false;
        }
        request.args.SetText(OpenSessionParam::kSessionId,
                             id.substr(0, request.args.Capacity(OpenSessionParam::kSessionId)));
        return true;
      });
  AddBoolean({ServerOp::kManagerCloseSession}, SessionStatusParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return facade.CloseSession(request.session, status);
             });
  AddText({ServerOp::kGetServerInfo},
          {SessionBufferParam::kError, SessionBufferParam::kSize, SessionBufferParam::kBuffer},
          [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
            return facade.GetServerInfo(ToCallerIdentity(request.context), request.session, status);
          });
}

void ManagementProcedures::AddServiceProcedures() {
  AddSessionRead(ServerOp::kGetServicesXml, &ServerManagerProxy::GetServicesXml);
  AddDocumentUpdate(ServerOp::kUpdateServicesXml, &ServerManagerProxy::UpdateServicesXml);
  AddBoolean({ServerOp::kManagerAddService, AddServiceParam::kName}, AddServiceParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return facade.AddService(
                   request.session, request.Text(AddServiceParam::kSource), request.Text(AddServiceParam::kName),
                   request.Text(AddServiceParam::kProperties), request.Text(AddServiceParam::kProviders), status);
             });
  AddBoolean({ServerOp::kManagerRemoveService, TwoTextsStatusParam::kFirst}, TwoTextsStatusParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return facade.RemoveService(request.session, request.Text(TwoTextsStatusParam::kFirst),
                                           request.Text(TwoTextsStatusParam::kSecond), status);
             });
  AddNamed(ServerOp::kStartService, &ServerManagerProxy::StartService);
  AddNamed(ServerOp::kStopService, &ServerManagerProxy::StopService);
  AddNamed(ServerOp::kRefreshService, &ServerManagerProxy::RefreshService);
  AddBoolean({ServerOp::kRefreshAllServices}, SessionStatusParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return facade.RefreshAllServices(request.session, status);
             });
  AddBoolean({ServerOp::kGetServiceName, ServiceNameParam::kService}, ServiceNameParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               const std::string name =
                   facade.GetServiceName(request.session, request.Text(ServiceNameParam::kService), status);
               if (name.empty()) return false;
               request.args.SetText(ServiceNameParam::kName,
                                    name.substr(0, request.args.Capacity(ServiceNameParam::kName)));
               return true;
             });
}

void ManagementProcedures::AddProviderProcedures() {
  AddBoolean({ServerOp::kCreateServiceProvider, CreateProviderParam::kName}, CreateProviderParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return facade.CreateServiceProvider(request.session, request.Text(CreateProviderParam::kMachine),
                                                   request.Text(CreateProviderParam::kEndpoint),
                                                   request.Text(CreateProviderParam::kName), status);
             });
  AddNamed(ServerOp::kDeleteServiceProvider, &ServerManagerProxy::DeleteServiceProvider);
  AddNamed(ServerOp::kStartServiceProvider, &ServerManagerProxy::StartServiceProvider);
  AddNamed(ServerOp::kStopServiceProvider, &ServerManagerProxy::StopServiceProvider);
  AddSessionRead(ServerOp::kGetServiceProvidersInfo, &ServerManagerProxy::GetServiceProvidersInfo);
  AddText({ServerOp::kGetServiceProviderConfigXml, NameBufferParam::kName},
          {NameBufferParam::kError, NameBufferParam::kSize, NameBufferParam::kBuffer},
          [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
            return facade.GetServiceProviderConfigXml(request.session, request.Text(NameBufferParam::kName), status);
          });
  AddBoolean({ServerOp::kUpdateServiceProviderConfigXml, TwoTextsStatusParam::kFirst}, TwoTextsStatusParam::kStatus,
             [](ServerManagerProxy& facade, const ManagementRequest& request, std::string& status) {
               return facade.UpdateServiceProviderConfigXml(request.session, request.Text(TwoTextsStatusParam::kFirst),
                                                            request.Text(TwoTextsStatusParam::kSecond), status);
             });
}

void ManagementProcedures::AddConfigurationProcedures() {
  AddSessionRead(ServerOp::kGetServerConfigXml, &ServerManagerProxy::GetServerConfigXml);
  AddDocumentUpdate(ServerOp::kUpdateServerConfigXml, &ServerManagerProxy::UpdateServerConfigXml);
}

}  // namespace

void AddManagementProcedures(DceRpc::InterfaceDefinition& definition, FacadeSource facade) {
  ManagementProcedures procedures(definition, std::move(facade));
  procedures.AddSessionProcedures();
  procedures.AddServiceProcedures();
  procedures.AddProviderProcedures();
  procedures.AddConfigurationProcedures();
}

}  // namespace Korvane::Pictora::Rpc
