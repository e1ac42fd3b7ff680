#include "rpc/Listener.h"

#include <utility>

#include "dcerpc/Status.h"
#include "rpc/PublishedObjects.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Rpc {

using GeneralUtilityLib::CriticalSectionLock;

Listener::Listener(CoreSource core, DceRpc::CallObserver observer)
    : core_(std::move(core)), observer_(std::move(observer)) {}

Listener::~Listener() { StopListening(); }

bool Listener::StartListening(const std::string& endpoint, const std::string& protocolSequence,
                              std::string& errorMessage, long& errorCode) {
  CriticalSectionLock lock(&section_);
  if (server_) {
    errorCode = DceRpc::StatusCode::kAlreadyListening;
    errorMessage = DceRpc::StatusText(DceRpc::StatusCode::kAlreadyListening);
    return false;
  }
  DceRpc::ServerOptions options;
  options.maxCalls = kMaxCalls;
  options.callObserver = observer_;
  // The configuration is read by now: it may lower the connections one peer address may hold.
  if (ServerCore::IServer* core = core_ ? core_() : PublishedServer()) {
    const long perPeer = GeneralUtilityLib::ParseLong(core->GetConfiguration().GetValue("MaxConnectionsPerPeer"), 0);
    if (perPeer > 0) options.maxConnectionsPerPeer = static_cast<size_t>(perPeer);
  }
  auto server = std::make_unique<DceRpc::Server>(options);
  if (!server->RegisterInterface(ServerInterfaceDefinition(core_))) {
    errorCode = DceRpc::StatusCode::kCantCreateEndpoint;
    errorMessage = DceRpc::StatusText(DceRpc::StatusCode::kCantCreateEndpoint);
    return false;
  }
  DceRpc::RpcStatus status = server->Listen(protocolSequence, endpoint);
  if (!status.ok()) {
    errorCode = static_cast<long>(status.code);
    errorMessage = status.text.empty() ? DceRpc::StatusText(status.code) : status.text;
    return false;
  }
  server_ = std::move(server);
  return true;
}

bool Listener::StopListening() {
  std::unique_ptr<DceRpc::Server> server;
  {
    CriticalSectionLock lock(&section_);
    server = std::move(server_);
  }
  if (!server) return false;
  server->StopListening();
  return true;  // destroying the runtime's server unregisters the interface
}

uint16_t Listener::TcpPort() const {
  CriticalSectionLock lock(&section_);
  return server_ ? server_->TcpPort() : 0;
}

bool Listener::Listening() const {
  CriticalSectionLock lock(&section_);
  return server_ != nullptr;
}

std::optional<DceRpc::Binding> BindToEndpoint(const std::string& networkAddress,
                                              const std::string& endpoint,
                                              const std::string& protocolSequence) {
  if (endpoint.empty()) return std::nullopt;
  DceRpc::Binding binding(protocolSequence, networkAddress, endpoint);
  if (binding.Validate() != DceRpc::StatusCode::kOk) return std::nullopt;
  return binding;
}

}  // namespace Korvane::Pictora::Rpc
