#include "rpc/ProviderCalls.h"

#include <exception>

#include "dcerpc/Client.h"
#include "dcerpc/Status.h"
#include "interfaces/ProviderProcedureShapes.h"

namespace Korvane::Pictora::Rpc {

using DceRpc::Arguments;
using DceRpc::Binding;
using DceRpc::RpcError;
using ServerCore::PingResult;

namespace {

constexpr const char* kProtocolSequence = "ncacn_ip_tcp";

// The text up to the first NUL of a filled receive buffer.
std::string BufferText(const std::string& buffer) {
  return buffer.substr(0, buffer.find('\0'));
}

}  // namespace

const std::string& ProviderCalls::ErrorPlaceholder() {
  static const std::string placeholder(3999, 'A');
  return placeholder;
}

void ProviderCalls::OutcomeCounter::Count(uint32_t status) {
  std::atomic<uint64_t>& counter = status == DceRpc::StatusCode::kOk              ? ok_
                                   : status == DceRpc::StatusCode::kCallCancelled ? timedOut_
                                                                                  : failed_;
  counter.fetch_add(1, std::memory_order_relaxed);
}

CallOutcomes ProviderCalls::OutcomeCounter::Read() const {
  return CallOutcomes{ok_.load(std::memory_order_relaxed), failed_.load(std::memory_order_relaxed),
                      timedOut_.load(std::memory_order_relaxed)};
}

uint32_t ProviderCalls::TryCall(const std::string& host, const std::string& endpoint, uint16_t opnum,
                                Arguments& args) {
  try {
    Binding binding(kProtocolSequence, host, endpoint);
    if (uint32_t invalid = binding.Validate(); invalid != DceRpc::StatusCode::kOk) return invalid;
    binding.Call(ProviderInterfaceId(), opnum, ProviderSpecs::ForOpnum(opnum), args);
    return DceRpc::StatusCode::kOk;
  } catch (const RpcError& error) {
    return error.status() != DceRpc::StatusCode::kOk ? error.status() : DceRpc::StatusCode::kServerUnavailable;
  } catch (...) {
    return DceRpc::StatusCode::kServerUnavailable;
  }
}

bool ProviderCalls::CallForBool(const std::string& host, const std::string& endpoint, uint16_t opnum,
                                Arguments& args) {
  return TryCall(host, endpoint, opnum, args) == DceRpc::StatusCode::kOk && args.ResultSmall() != 0;
}

PingResult ProviderCalls::Ping(const std::string& host, const std::string& endpoint,
                               std::string& errorText) {
  const PingResult result = PingOnce(host, endpoint, errorText);
  pings_.Count(result == PingResult::Alive      ? DceRpc::StatusCode::kOk
               : result == PingResult::TimedOut ? DceRpc::StatusCode::kCallCancelled
                                                : DceRpc::StatusCode::kServerUnavailable);
  return result;
}

PingResult ProviderCalls::PingOnce(const std::string& host, const std::string& endpoint, std::string& errorText) {
  try {
    Binding binding(kProtocolSequence, host, endpoint);
    if (uint32_t invalid = binding.Validate(); invalid != DceRpc::StatusCode::kOk) {
      errorText = DceRpc::StatusText(invalid);
      return PingResult::Unreachable;
    }
    Arguments args(0);
    binding.Call(ProviderInterfaceId(), ProviderOp::kPing, ProviderSpecs::Ping(), args);
    return args.ResultSmall() != 0 ? PingResult::Alive : PingResult::Refused;
  } catch (const RpcError& error) {
    errorText = error.what();
    if (error.status() == DceRpc::StatusCode::kServerUnavailable) return PingResult::Unreachable;
    return error.status() == DceRpc::StatusCode::kCallCancelled ? PingResult::TimedOut : PingResult::OtherError;
  } catch (const std::exception& error) {
    errorText = error.what();
    return PingResult::OtherError;
  } catch (...) {
    return PingResult::OtherError;
  }
}

bool ProviderCalls::GetLoad(const std::string& host, const std::string& endpoint, double& load) {
  Arguments args(1);
  args.SetDouble(0, load);
  const uint32_t status = TryCall(host, endpoint, ProviderOp::kGetLoad, args);
  loadQueries_.Count(status);
  if (status != DceRpc::StatusCode::kOk) return false;
  load = args.Double(0);
  return true;
}

bool ProviderCalls::CallGetInfo(const std::string& host, const std::string& endpoint,
                                const std::string& level, int32_t size, int32_t& result,
                                std::string& text) {
  Arguments args(4);
  args.SetText(0, level);
  args.SetLong(1, size);
  args.SetText(3, ErrorPlaceholder());
  if (TryCall(host, endpoint, ProviderOp::kGetInfo, args) != DceRpc::StatusCode::kOk) return false;
  result = args.ResultLong();
  if (result == 0) text = BufferText(args.Text(2));
  return true;
}

std::string ProviderCalls::GetInfo(const std::string& host, const std::string& endpoint,
                                   const std::string& level) {
  int32_t result = -1;
  std::string text;
  if (!CallGetInfo(host, endpoint, level, kFirstInfoBufferSize, result, text)) return {};
  if (result == 0) return text;
  // Only a result above the first size is a size request; anything else is no answer.
  if (result <= kFirstInfoBufferSize || result >= kMaxInfoBufferSize) return {};
  if (!CallGetInfo(host, endpoint, level, result + 1, result, text)) return {};
  return result == 0 ? text : std::string();
}

bool ProviderCalls::StartService(const std::string& host, const std::string& endpoint,
                                 const std::string& source, const std::string& name,
                                 const std::string& properties) {
  Arguments args(5);
  args.SetText(0, kProviderCallerIdentity);
  args.SetText(1, source);
  args.SetText(2, name);
  args.SetText(3, properties);
  args.SetText(4, ErrorPlaceholder());
  return CallForBool(host, endpoint, ProviderOp::kStartService, args);
}

bool ProviderCalls::StopService(const std::string& host, const std::string& endpoint,
                                const std::string& name) {
  Arguments args(3);
  args.SetText(0, kProviderCallerIdentity);
  args.SetText(1, name);
  args.SetText(2, ErrorPlaceholder());
  return CallForBool(host, endpoint, ProviderOp::kStopService, args);
}

bool ProviderCalls::RefreshService(const std::string& host, const std::string& endpoint,
                                   const std::string& serviceXml) {
  Arguments args(2);
  args.SetText(0, serviceXml);
  args.SetText(1, ErrorPlaceholder());
  return CallForBool(host, endpoint, ProviderOp::kRefreshService, args);
}

bool ProviderCalls::RefreshAllServices(const std::string& host, const std::string& endpoint) {
  Arguments args(2);
  args.SetText(0, kProviderCallerIdentity);
  args.SetText(1, ErrorPlaceholder());
  return CallForBool(host, endpoint, ProviderOp::kRefreshAllServices, args);
}

bool ProviderCalls::RefreshConfiguration(const std::string& host, const std::string& endpoint) {
  Arguments args(2);
  args.SetText(0, kProviderCallerIdentity);
  args.SetText(1, ErrorPlaceholder());
  return CallForBool(host, endpoint, ProviderOp::kRefreshConfiguration, args);
}

}  // namespace Korvane::Pictora::Rpc
