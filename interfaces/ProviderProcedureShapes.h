// The parameter descriptions of the service provider's interface (27 procedures, 0-26), shared
// by the server's calls to providers and by the stand-in provider that serves them.
//
// The server calls eight of them: 0 ping, 15 information, 17 refresh a service, 19 load,
// 23 start a service, 24 stop a service, 25 refresh all services, 26 refresh configuration.
// The other nineteen (1-14, 16, 18, 20-22) are never called by the server; this system gives
// them one harmless form so that a caller of any number gets a well-formed answer:
//   [in, string] char* text; [in, out, string] char* error text -> boolean.
#pragma once

#include <cstdint>

#include "dcerpc/Procedure.h"
#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::Rpc {

// b9730071-b03f-42b3-b002-2c3996f28928 version 1.0.
inline const DceRpc::SyntaxId& ProviderInterfaceId() {
  static const DceRpc::SyntaxId id{*DceRpc::Uuid::Parse("b9730071-b03f-42b3-b002-2c3996f28928"), 1, 0};
  return id;
}

namespace ProviderOp {
inline constexpr uint16_t kPing = 0;                  // () -> small: 1 = alive
inline constexpr uint16_t kGetInfo = 15;              // level, size, buffer, error -> long (buffer reply)
inline constexpr uint16_t kRefreshService = 17;       // service XML, error -> small
inline constexpr uint16_t kGetLoad = 19;              // [in, out] double* load -> void
inline constexpr uint16_t kStartService = 23;         // caller, source, name, properties, error -> small
inline constexpr uint16_t kStopService = 24;          // caller, name, error -> small
inline constexpr uint16_t kRefreshAllServices = 25;   // caller, error -> small
inline constexpr uint16_t kRefreshConfiguration = 26; // caller, error -> small
inline constexpr uint16_t kCount = 27;
}  // namespace ProviderOp

// The identity procedures 23-26 send as the caller.
inline constexpr const char* kProviderCallerIdentity = "Pictora";

namespace ProviderSpecs {
using DceRpc::ParamKind;
using DceRpc::ProcedureSpec;
using DceRpc::ResultKind;

inline ProcedureSpec Ping() { return {{}, ResultKind::kSmall}; }
inline ProcedureSpec GetInfo() {
  return {{{ParamKind::kInString}, {ParamKind::kInLong}, {ParamKind::kOutChars, 1}, {ParamKind::kInOutString}},
          ResultKind::kLong};
}
inline ProcedureSpec RefreshService() {
  return {{{ParamKind::kInString}, {ParamKind::kInOutString}}, ResultKind::kSmall};
}
inline ProcedureSpec GetLoad() { return {{{ParamKind::kInOutDouble}}, ResultKind::kVoid}; }
inline ProcedureSpec StartService() {
  return {{{ParamKind::kInString},
           {ParamKind::kInString},
           {ParamKind::kInString},
           {ParamKind::kInString},
           {ParamKind::kInOutString}},
          ResultKind::kSmall};
}
inline ProcedureSpec StopService() {
  return {{{ParamKind::kInString}, {ParamKind::kInString}, {ParamKind::kInOutString}}, ResultKind::kSmall};
}
// Procedures 25 and 26: caller identity and error text.
inline ProcedureSpec CallerOnly() {
  return {{{ParamKind::kInString}, {ParamKind::kInOutString}}, ResultKind::kSmall};
}
// The form of the procedures the server never calls.
inline ProcedureSpec Unused() {
  return {{{ParamKind::kInString}, {ParamKind::kInOutString}}, ResultKind::kSmall};
}

// The description of procedure `opnum` (0-26); Unused() for the numbers the server never calls.
inline ProcedureSpec ForOpnum(uint16_t opnum) {
  switch (opnum) {
    case ProviderOp::kPing: return Ping();
    case ProviderOp::kGetInfo: return GetInfo();
    case ProviderOp::kRefreshService: return RefreshService();
    case ProviderOp::kGetLoad: return GetLoad();
    case ProviderOp::kStartService: return StartService();
    case ProviderOp::kStopService: return StopService();
    case ProviderOp::kRefreshAllServices:
    case ProviderOp::kRefreshConfiguration: return CallerOnly();
    default: return Unused();
  }
}
}  // namespace ProviderSpecs

}  // namespace Korvane::Pictora::Rpc
