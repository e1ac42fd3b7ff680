#include "rpc/ServerInterface.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "interfaces/ServerProcedureShapes.h"
#include "rpc/PublishedObjects.h"
#include "rpc/ReplyText.h"

namespace Korvane::Pictora::Rpc {

namespace {

using DceRpc::Arguments;
using DceRpc::CallContext;
using ServerCore::IServer;
using ServerCore::ISession;

// Writes an in/out text, never longer than the caller sent it.
void WriteInOut(Arguments& args, size_t index, std::string text) {
  if (text.size() > args.Capacity(index)) text.resize(args.Capacity(index));
  args.SetText(index, std::move(text));
}

void WriteError(Arguments& args, size_t index, const std::string& out, size_t maximum) {
  WriteInOut(args, index, CutMiddle(out, maximum));
}

// The buffer reply into the out array at `buffer` sized by the long at `size`.
int32_t ReplyInBuffer(Arguments& args, size_t size, size_t buffer, const std::string& text) {
  std::string copied;
  const int32_t result = CopyToBuffer(text, args.Long(size), copied);
  if (result == 0) args.SetText(buffer, std::move(copied));
  return result;
}

std::string DataText(const Arguments& args, size_t index) { return TextFromData(args.Text(index)); }

int8_t AsSmall(bool value) { return value ? 1 : 0; }

// One call's view of the interface: the core and the arguments.
class Call {
 public:
  Call(IServer& core, const CallContext& context, Arguments& args)
      : core_(core), context_(context), args_(args) {}

  void GetVersion() {
    WriteInOut(args_, VersionParam::kVersion, core_.GetVersion());
    args_.SetResultSmall(1);
  }

  void OpenSession() {
    std::string sessionId;
    std::string error;
    if (core_.OpenSession(args_.Text(OpenSessionParam::kInfo), ToCallerIdentity(context_), sessionId, error)) {
      WriteInOut(args_, OpenSessionParam::kSessionId, sessionId);
      args_.SetResultSmall(1);
    } else {
      WriteError(args_, OpenSessionParam::kError, error, kMaxErrorText);
      args_.SetResultSmall(0);
    }
  }

  void CloseSession() {
    std::string discarded;
    args_.SetResultSmall(AsSmall(core_.CloseSession(args_.Text(TextParam::kText), discarded)));
  }

  void GetSession() {
    args_.SetResultSmall(AsSmall(core_.GetSession(args_.Text(TextParam::kText)) != nullptr));
  }

  void NotifySession() {
    auto session = core_.GetSession(args_.Text(NotifyParam::kSession));
    if (!session) return args_.SetResultSmall(0);
    args_.SetResultSmall(AsSmall(
        session->NotifySession(args_.Small(NotifyParam::kFlag) != 0, args_.Text(NotifyParam::kText))));
  }

  // 11, 15, 16, 17: a provider's registration, update and service lists.
  template <typename Operation>
  void ProviderUpdate(Operation operation) {
    auto session = core_.GetSession(args_.Text(NameDataParam::kSession));
    if (!session) return args_.SetResultSmall(0);
    std::string out;
    if (operation(core_, *session, args_.Text(NameDataParam::kName), DataText(args_, NameDataParam::kData), out)) {
      args_.SetResultSmall(1);
    } else {
      WriteError(args_, NameDataParam::kError, out, kMaxProviderErrorText);
      args_.SetResultSmall(0);
    }
  }

  void RemoveServiceProvider() {
    auto session = core_.GetSession(args_.Text(NameParam::kSession));
    if (!session) return args_.SetResultSmall(0);
    args_.SetResultSmall(AsSmall(core_.RemoveServiceProvider(args_.Text(NameParam::kName))));
  }

  void GetServiceProvidersFor() {
    auto session = core_.GetSession(args_.Text(NameBufferParam::kSession));
    if (!session) return args_.SetResultLong(-1);
    std::string out;
    if (core_.GetServiceProvidersFor(*session, ToCallerIdentity(context_), args_.Text(NameBufferParam::kName), out)) {
      args_.SetResultLong(ReplyInBuffer(args_, NameBufferParam::kSize, NameBufferParam::kBuffer, out));
    } else {
      FailWith(out);
    }
  }

  void GetInfo() {
    auto session = core_.GetSession(args_.Text(NameBufferParam::kSession));
    if (!session) return args_.SetResultLong(-1);
    std::string out;
    const std::string report = core_.GetInfo(ToCallerIdentity(context_), args_.Text(NameBufferParam::kName), out);
    if (report.empty()) return FailWith(out);
    args_.SetResultLong(ReplyInBuffer(args_, NameBufferParam::kSize, NameBufferParam::kBuffer, report));
  }

  // 14, 21: a text by name for a known session; the error text is never written.
  template <typename Operation>
  void SessionTextByName(Operation operation) {
    if (!core_.GetSession(args_.Text(NameBufferParam::kSession))) return args_.SetResultLong(-1);
    const std::string text = operation(core_, args_.Text(NameBufferParam::kName));
    args_.SetResultLong(ReplyInBuffer(args_, NameBufferParam::kSize, NameBufferParam::kBuffer, text));
  }

  void GetServiceProviders() {
    if (!core_.GetSession(args_.Text(SessionBufferParam::kSession))) return args_.SetResultLong(-1);
    const std::string text = core_.GetServiceProviders();
    args_.SetResultLong(ReplyInBuffer(args_, SessionBufferParam::kSize, SessionBufferParam::kBuffer, text));
  }

  void SetStopFlag() {
    args_.SetResultSmall(AsSmall(core_.SetStopFlag(ToCallerIdentity(context_))));
  }

  // 46, 47: a provider's own services or configuration, without a session.
  void ProviderText(const std::string& text) {
    if (text.empty()) {
      WriteInOut(args_, NameBufferParam::kError, std::string());
      return args_.SetResultLong(-1);
    }
    args_.SetResultLong(ReplyInBuffer(args_, NameBufferParam::kSize, NameBufferParam::kBuffer, text));
  }

  IServer& core() { return core_; }
  const std::string& Name() const { return args_.Text(NameBufferParam::kName); }

 private:
  void FailWith(const std::string& out) {
    WriteError(args_, NameBufferParam::kError, out, kMaxErrorText);
    args_.SetResultLong(-1);
  }

  IServer& core_;
  const CallContext& context_;
  Arguments& args_;
};

class Registrar {
 public:
  Registrar(DceRpc::InterfaceDefinition& definition, CoreSource core)
      : definition_(definition), core_(std::move(core)) {}

  template <typename Body>
  void Add(uint16_t opnum, Body body) {
    CoreSource core = core_;
    definition_.procedures[opnum] = DceRpc::Procedure{
        ServerProcedureSpec(opnum), [core, body](const CallContext& context, Arguments& args) {
          IServer* server = core();
          if (server == nullptr) throw std::runtime_error("the server core is not available");
          Call call(*server, context, args);
          body(call);
        }};
  }

  // Reserved procedures answer a fixed result and touch nothing, not even the core.
  void AddFixedSmall(uint16_t opnum, int8_t result) {
    definition_.procedures[opnum] = DceRpc::Procedure{
        ServerProcedureSpec(opnum), [result](const CallContext&, Arguments& args) { args.SetResultSmall(result); }};
  }
  void AddFixedLong(uint16_t opnum, int32_t result) {
    definition_.procedures[opnum] = DceRpc::Procedure{
        ServerProcedureSpec(opnum), [result](const CallContext&, Arguments& args) { args.SetResultLong(result); }};
  }

 private:
  DceRpc::InterfaceDefinition& definition_;
  CoreSource core_;
};

}  // namespace

ServerCore::CallerIdentity ToCallerIdentity(const CallContext& context) {
  if (context.hasCredentials)
    return ServerCore::CallerIdentity::FromCredentials(context.uid, context.gid, context.groups);
  return ServerCore::CallerIdentity::FromAddress(context.peerAddress);
}

DceRpc::InterfaceDefinition ServerInterfaceDefinition(CoreSource core, FacadeSource facade) {
  if (!core) core = [] { return PublishedServer(); };
  if (!facade) facade = [] { return PublishedFacade(); };
  DceRpc::InterfaceDefinition definition;
  definition.id = ServerInterfaceId();
  Registrar add(definition, std::move(core));
  using Op = uint16_t;
  namespace O = ServerOp;

  add.Add(O::kGetVersion, [](Call& c) { c.GetVersion(); });
  for (Op reserved : {O::kReserved1, O::kReserved2, O::kReserved3}) add.AddFixedSmall(reserved, 1);
  add.Add(O::kOpenSession, [](Call& c) { c.OpenSession(); });
  add.Add(O::kCloseSession, [](Call& c) { c.CloseSession(); });
  add.Add(O::kGetSession, [](Call& c) { c.GetSession(); });
  add.Add(O::kNotifySession, [](Call& c) { c.NotifySession(); });
  add.Add(O::kAddServiceProvider, [](Call& c) {
    c.ProviderUpdate([](IServer& core, ISession& s, const std::string& name, const std::string& xml, std::string& out) {
      return core.AddServiceProvider(name, s.GetSessionId(), xml, out);
    });
  });
  add.Add(O::kRemoveServiceProvider, [](Call& c) { c.RemoveServiceProvider(); });
  add.Add(O::kGetServiceProvidersFor, [](Call& c) { c.GetServiceProvidersFor(); });
  add.Add(O::kGetServiceProviderInfo, [](Call& c) {
    c.SessionTextByName([](IServer& core, const std::string& name) { return core.GetServiceProviderInfo(name); });
  });
  add.Add(O::kUpdateServiceProviderInfo, [](Call& c) {
    c.ProviderUpdate([](IServer& core, ISession&, const std::string& name, const std::string& xml, std::string& out) {
      return core.UpdateServiceProviderInfo(name, xml, out);
    });
  });
  add.Add(O::kAddServices, [](Call& c) {
    c.ProviderUpdate([](IServer& core, ISession&, const std::string& name, const std::string& xml, std::string& out) {
      return core.AddServices(name, xml, out);
    });
  });
  add.Add(O::kRemoveServices, [](Call& c) {
    c.ProviderUpdate([](IServer& core, ISession&, const std::string& name, const std::string& xml, std::string& out) {
      return core.RemoveServices(name, xml, out);
    });
  });
  add.Add(O::kGetInfo, [](Call& c) { c.GetInfo(); });
  add.Add(O::kGetServiceProviders, [](Call& c) { c.GetServiceProviders(); });
  add.AddFixedLong(O::kReserved20, 0);
  add.Add(O::kGetServices, [](Call& c) {
    c.SessionTextByName([](IServer& core, const std::string& name) { return core.GetServices(name); });
  });
  for (Op reserved : {O::kReserved22, O::kReserved23}) add.AddFixedLong(reserved, 1);
  add.Add(O::kSetStopFlag, [](Call& c) { c.SetStopFlag(); });
  AddManagementProcedures(definition, std::move(facade));
  add.Add(O::kGetServicesForServiceProvider,
          [](Call& c) { c.ProviderText(c.core().GetServicesForServiceProvider(c.Name())); });
  add.Add(O::kGetServiceProviderConfiguration,
          [](Call& c) { c.ProviderText(c.core().GetServiceProviderConfiguration(c.Name())); });
  return definition;
}

}  // namespace Korvane::Pictora::Rpc
