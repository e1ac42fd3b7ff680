#include "dcerpc/Server.h"

#include "dcerpc/ServerRuntime.h"

namespace Korvane::Pictora::DceRpc {

Server::Server(ServerOptions options) : runtime_(std::make_unique<ServerRuntime>(options)) {}

Server::~Server() { runtime_->StopListening(); }

bool Server::RegisterInterface(InterfaceDefinition definition) {
  return runtime_->RegisterInterface(std::move(definition));
}

RpcStatus Server::Listen(std::string_view protocolSequence, std::string_view endpoint) {
  return runtime_->Listen(protocolSequence, endpoint);
}

bool Server::StopListening() { return runtime_->StopListening(); }

bool Server::IsListening() const { return runtime_->IsListening(); }

uint16_t Server::TcpPort() const { return runtime_->TcpPort(); }

size_t Server::BufferedBytes() const { return runtime_->BufferedBytes(); }

}  // namespace Korvane::Pictora::DceRpc
