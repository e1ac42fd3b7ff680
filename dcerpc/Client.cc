#include "dcerpc/Client.h"

#include <atomic>

#include "dcerpc/ConnectionPool.h"
#include "dcerpc/Ndr.h"
#include "dcerpc/Socket.h"

namespace Korvane::Pictora::DceRpc {

namespace {

std::atomic<int64_t> defaultConnectMs{3000};
std::atomic<int64_t> defaultCallMs{10000};

std::string PoolKey(const Binding& binding, const SyntaxId& interface) {
  return binding.ProtocolSequence() + '|' + binding.SourceAddress() + '|' + binding.NetworkAddress() + '|' +
         binding.Endpoint() + '|' + interface.uuid.ToString() + '|' + std::to_string(interface.major) + '.' +
         std::to_string(interface.minor);
}

}  // namespace

void SetDefaultClientTimeouts(ClientTimeouts timeouts) {
  defaultConnectMs = timeouts.connect.count();
  defaultCallMs = timeouts.call.count();
}

ClientTimeouts DefaultClientTimeouts() {
  return {std::chrono::milliseconds(defaultConnectMs.load()), std::chrono::milliseconds(defaultCallMs.load())};
}

void ClearClientConnectionPool() { ConnectionPool::Instance().Clear(); }

void SetClientConnectionPoolKeys(size_t keys) { ConnectionPool::Instance().SetMaxKeys(keys); }

Binding::Binding(std::string protocolSequence, std::string networkAddress, std::string endpoint)
    : protocolSequence_(std::move(protocolSequence)),
      networkAddress_(std::move(networkAddress)),
      endpoint_(std::move(endpoint)),
      timeouts_(DefaultClientTimeouts()) {}

uint32_t Binding::Validate() const {
  if (protocolSequence_ == "ncacn_ip_tcp") {
    if (networkAddress_.empty()) return StatusCode::kInvalidNetAddr;
    if (!ParseTcpEndpoint(endpoint_) || *ParseTcpEndpoint(endpoint_) == 0) return StatusCode::kInvalidEndpointFormat;
    return StatusCode::kOk;
  }
  if (protocolSequence_ == "ncacn_np") {
    return ParsePipeEndpoint(endpoint_) ? StatusCode::kOk : StatusCode::kInvalidEndpointFormat;
  }
  return protocolSequence_.starts_with("nca") ? StatusCode::kProtseqNotSupported : StatusCode::kInvalidRpcProtseq;
}

void Binding::Call(const SyntaxId& interface, uint16_t opnum, const ProcedureSpec& spec, Arguments& args) const {
  if (uint32_t invalid = Validate(); invalid != StatusCode::kOk) throw RpcError(invalid);
  std::vector<uint8_t> stub;
  EncodeRequestStub(spec, args, stub);
  const std::string key = PoolKey(*this, interface);
  auto& pool = ConnectionPool::Instance();
  for (int attempt = 0;; ++attempt) {
    std::unique_ptr<ClientConnection> connection = attempt == 0 ? pool.Take(key) : nullptr;
    const bool reused = connection != nullptr;
    // One call time-out covers the bind of a fresh connection and the call itself.
    const auto deadline = std::chrono::steady_clock::now() + timeouts_.call;
    if (!connection) connection = ClientConnection::Open(*this, interface, deadline);
    bool requestSent = false;
    CallReply reply;
    try {
      reply = connection->Call(opnum, stub, deadline, maxResponseBytes_, requestSent);
    } catch (const RpcError&) {
      // A pooled connection may have died while idle; only an unsent request may go again.
      if (reused && !requestSent) continue;
      throw;
    }
    pool.Give(key, std::move(connection));
    if (reply.fault) throw RpcError(FaultToStatus(reply.faultStatus));
    if (DecodeResponseStub(spec, reply.stub, reply.bigEndian, args) != NdrStatus::kOk)
      throw RpcError(StatusCode::kBadStubData);
    return;
  }
}

}  // namespace Korvane::Pictora::DceRpc
