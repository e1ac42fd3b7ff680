// The wire shape of the server's procedure interface (8a60fd6c-7ebf-4aee-839c-1df4243d03d2 v1.0):
// for every procedure number, the NDR parameter kinds in wire order and the result kind. The
// server registers its handlers with these specs and every client of the interface (tools,
// stand-in provider, tests) calls with the same ones, so the two sides cannot drift apart.
//
// The binding handle of each procedure is not marshalled and has no place here. Procedures 5-7
// do not exist.
//
// Thread safety: plain constants and functions over immutable statics.
#pragma once

#include <cstdint>
#include <cstddef>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "dcerpc/Procedure.h"
#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::Rpc {

inline const DceRpc::SyntaxId& ServerInterfaceId() {
  static const DceRpc::SyntaxId id{*DceRpc::Uuid::Parse("8a60fd6c-7ebf-4aee-839c-1df4243d03d2"), 1, 0};
  return id;
}

// Procedure numbers (operation numbers on the wire).
namespace ServerOp {
inline constexpr uint16_t kGetVersion = 0;
inline constexpr uint16_t kReserved1 = 1;
inline constexpr uint16_t kReserved2 = 2;
inline constexpr uint16_t kReserved3 = 3;
inline constexpr uint16_t kOpenSession = 4;
inline constexpr uint16_t kCloseSession = 8;
inline constexpr uint16_t kGetSession = 9;
inline constexpr uint16_t kNotifySession = 10;
inline constexpr uint16_t kAddServiceProvider = 11;
inline constexpr uint16_t kRemoveServiceProvider = 12;
inline constexpr uint16_t kGetServiceProvidersFor = 13;
inline constexpr uint16_t kGetServiceProviderInfo = 14;
inline constexpr uint16_t kUpdateServiceProviderInfo = 15;
inline constexpr uint16_t kAddServices = 16;
inline constexpr uint16_t kRemoveServices = 17;
inline constexpr uint16_t kGetInfo = 18;
inline constexpr uint16_t kGetServiceProviders = 19;
inline constexpr uint16_t kReserved20 = 20;
inline constexpr uint16_t kGetServices = 21;
inline constexpr uint16_t kReserved22 = 22;
inline constexpr uint16_t kReserved23 = 23;
inline constexpr uint16_t kSetStopFlag = 24;
// The management procedures.
inline constexpr uint16_t kManagerOpenSession = 25;
inline constexpr uint16_t kManagerCloseSession = 26;
inline constexpr uint16_t kGetServerInfo = 27;
inline constexpr uint16_t kCreateServiceProvider = 28;
inline constexpr uint16_t kDeleteServiceProvider = 29;
inline constexpr uint16_t kStartServiceProvider = 30;
inline constexpr uint16_t kStopServiceProvider = 31;
inline constexpr uint16_t kGetServerConfigXml = 32;
inline constexpr uint16_t kUpdateServerConfigXml = 33;
inline constexpr uint16_t kGetServiceProviderConfigXml = 34;
inline constexpr uint16_t kUpdateServiceProviderConfigXml = 35;
inline constexpr uint16_t kGetServiceProvidersInfo = 36;
inline constexpr uint16_t kGetServicesXml = 37;
inline constexpr uint16_t kUpdateServicesXml = 38;
inline constexpr uint16_t kManagerAddService = 39;
inline constexpr uint16_t kManagerRemoveService = 40;
inline constexpr uint16_t kStartService = 41;
inline constexpr uint16_t kStopService = 42;
inline constexpr uint16_t kGetServiceName = 43;
inline constexpr uint16_t kRefreshService = 44;
inline constexpr uint16_t kRefreshAllServices = 45;
inline constexpr uint16_t kGetServicesForServiceProvider = 46;
inline constexpr uint16_t kGetServiceProviderConfiguration = 47;
}  // namespace ServerOp

// The procedure's name for logs and metrics; empty text for a number no procedure has.
inline const char* ServerProcedureName(uint16_t opnum) {
  static constexpr const char* kNames[] = {
      "GetVersion", "Reserved1", "Reserved2", "Reserved3", "OpenSession", "", "", "",
      "CloseSession", "GetSession", "NotifySession", "AddServiceProvider", "RemoveServiceProvider",
      "GetServiceProvidersFor", "GetServiceProviderInfo", "UpdateServiceProviderInfo", "AddServices",
      "RemoveServices", "GetInfo", "GetServiceProviders", "Reserved20", "GetServices", "Reserved22", "Reserved23",
      "SetStopFlag", "ManagerOpenSession", "ManagerCloseSession", "GetServerInfo", "CreateServiceProvider",
      "DeleteServiceProvider", "StartServiceProvider", "StopServiceProvider", "GetServerConfigXml",
      "UpdateServerConfigXml", "GetServiceProviderConfigXml", "UpdateServiceProviderConfigXml",
      "GetServiceProvidersInfo", "GetServicesXml", "UpdateServicesXml", "ManagerAddService", "ManagerRemoveService",
      "StartService", "StopService", "GetServiceName", "RefreshService", "RefreshAllServices",
      "GetServicesForServiceProvider", "GetServiceProviderConfiguration"};
  return opnum < std::size(kNames) ? kNames[opnum] : "";
}

// Parameter positions of each shape. Values and capacities in DceRpc::Arguments use them.

// 1, 3, 8, 9: text -> small.
namespace TextParam {
inline constexpr size_t kText = 0;
}
// 0 GetVersion: in/out text -> small.
namespace VersionParam {
inline constexpr size_t kVersion = 0;
}
// 2: text; [in, size_is(inLength)] byte[]; [in] long inLength; [out, size_is(*outLength)] byte[];
// [in, out] long* outLength -> small.
namespace BytesParam {
inline constexpr size_t kText = 0;
inline constexpr size_t kIn = 1;
inline constexpr size_t kInLength = 2;
inline constexpr size_t kOut = 3;
inline constexpr size_t kOutLength = 4;
}  // namespace BytesParam
// 4 OpenSession: text session information XML; in/out session identifier; in/out error -> small.
namespace OpenSessionParam {
inline constexpr size_t kInfo = 0;
inline constexpr size_t kSessionId = 1;
inline constexpr size_t kError = 2;
}  // namespace OpenSessionParam
// 10: text session; flag; text; in/out error -> small.
namespace NotifyParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kFlag = 1;
inline constexpr size_t kText = 2;
inline constexpr size_t kError = 3;
}  // namespace NotifyParam
// 11, 15, 16, 17: text session; text name; long length; [in, size_is(length)] char[] data;
// in/out error -> small. The caller includes the text's NUL in length.
namespace NameDataParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kName = 1;
inline constexpr size_t kLength = 2;
inline constexpr size_t kData = 3;
inline constexpr size_t kError = 4;
}  // namespace NameDataParam
// 12: text session; text name; in/out error -> small.
namespace NameParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kName = 1;
inline constexpr size_t kError = 2;
}  // namespace NameParam
// 13, 14, 18, 21, 22, 23, 46, 47: text; text; long size; [out, size_is(size)] char[] buffer;
// in/out error -> long (buffer reply).
namespace NameBufferParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kName = 1;
inline constexpr size_t kSize = 2;
inline constexpr size_t kBuffer = 3;
inline constexpr size_t kError = 4;
}  // namespace NameBufferParam
// 19, 20: text session; long size; [out, size_is(size)] char[] buffer; in/out error -> long.
namespace SessionBufferParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kSize = 1;
inline constexpr size_t kBuffer = 2;
inline constexpr size_t kError = 3;
}  // namespace SessionBufferParam
// 26, 45: text session; in/out status -> small.
namespace SessionStatusParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kStatus = 1;
}  // namespace SessionStatusParam
// 28 CreateServiceProvider: text session; text machine; text endpoint; text name; in/out status
// -> small.
namespace CreateProviderParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kMachine = 1;
inline constexpr size_t kEndpoint = 2;
inline constexpr size_t kName = 3;
inline constexpr size_t kStatus = 4;
}  // namespace CreateProviderParam
// 35, 40: text session; text; text; in/out status -> small.
namespace TwoTextsStatusParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kFirst = 1;
inline constexpr size_t kSecond = 2;
inline constexpr size_t kStatus = 3;
}  // namespace TwoTextsStatusParam
// 39 AddService: text session; text source; text name; text properties; text providers; in/out
// status -> small.
namespace AddServiceParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kSource = 1;
inline constexpr size_t kName = 2;
inline constexpr size_t kProperties = 3;
inline constexpr size_t kProviders = 4;
inline constexpr size_t kStatus = 5;
}  // namespace AddServiceParam
// 43 GetServiceName: text session; text service; in/out name; in/out status -> small.
namespace ServiceNameParam {
inline constexpr size_t kSession = 0;
inline constexpr size_t kService = 1;
inline constexpr size_t kName = 2;
inline constexpr size_t kStatus = 3;
}  // namespace ServiceNameParam
// 24 SetStopFlag: text; text -> small.
namespace TwoTextsParam {
inline constexpr size_t kFirst = 0;
inline constexpr size_t kSecond = 1;
}  // namespace TwoTextsParam

namespace ServerSpecShapes {
using DceRpc::ParamKind;
using DceRpc::ProcedureSpec;
using DceRpc::ResultKind;

inline const ProcedureSpec& Version() {
  static const ProcedureSpec spec{{{ParamKind::kInOutString}}, ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& Text() {
  static const ProcedureSpec spec{{{ParamKind::kInString}}, ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& Bytes() {
  static const ProcedureSpec spec{{{ParamKind::kInString},
                                   {ParamKind::kInBytes, static_cast<int>(BytesParam::kInLength)},
                                   {ParamKind::kInLong},
                                   {ParamKind::kOutBytes, static_cast<int>(BytesParam::kOutLength)},
                                   {ParamKind::kInOutLong}},
                                  ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& OpenSession() {
  static const ProcedureSpec spec{
      {{ParamKind::kInString}, {ParamKind::kInOutString}, {ParamKind::kInOutString}}, ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& Notify() {
  static const ProcedureSpec spec{
      {{ParamKind::kInString}, {ParamKind::kInSmall}, {ParamKind::kInString}, {ParamKind::kInOutString}},
      ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& NameData() {
  static const ProcedureSpec spec{{{ParamKind::kInString},
                                   {ParamKind::kInString},
                                   {ParamKind::kInLong},
                                   {ParamKind::kInChars, static_cast<int>(NameDataParam::kLength)},
                                   {ParamKind::kInOutString}},
                                  ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& Name() {
  static const ProcedureSpec spec{
      {{ParamKind::kInString}, {ParamKind::kInString}, {ParamKind::kInOutString}}, ResultKind::kSmall};
  return spec;
}
inline const ProcedureSpec& NameBuffer() {
  static const ProcedureSpec spec{{{ParamKind::kInString},
                                   {ParamKind::kInString},
                                   {ParamKind::kInLong},
                                   {ParamKind::kOutChars, static_cast<int>(NameBufferParam::kSize)},
                                   {ParamKind::kInOutString}},
                                  ResultKind::kLong};
  return spec;
}
inline const ProcedureSpec& SessionBuffer() {
  static const ProcedureSpec spec{{{ParamKind::kInString},
                                   {ParamKind::kInLong},
                                   {ParamKind::kOutChars, static_cast<int>(SessionBufferParam::kSize)},
                                   {ParamKind::kInOutString}},
                                  ResultKind::kLong};
  return spec;
}
inline const ProcedureSpec& TwoTexts() {
  static const ProcedureSpec spec{{{ParamKind::kInString}, {ParamKind::kInString}}, ResultKind::kSmall};
  return spec;
}
// `texts` [in, string] texts, then one in/out text: the shape of most management procedures.
inline ProcedureSpec TextsThenInOut(size_t texts) {
  ProcedureSpec spec{std::vector<DceRpc::ParamSpec>(texts, {ParamKind::kInString}), ResultKind::kSmall};
  spec.params.push_back({ParamKind::kInOutString});
  return spec;
}
inline const ProcedureSpec& SessionStatus() {
  static const ProcedureSpec spec = TextsThenInOut(1);
  return spec;
}
inline const ProcedureSpec& CreateProvider() {
  static const ProcedureSpec spec = TextsThenInOut(4);
  return spec;
}
inline const ProcedureSpec& TwoTextsStatus() {
  static const ProcedureSpec spec = TextsThenInOut(3);
  return spec;
}
inline const ProcedureSpec& AddService() {
  static const ProcedureSpec spec = TextsThenInOut(5);
  return spec;
}
inline const ProcedureSpec& ServiceName() {
  static const ProcedureSpec spec{
      {{ParamKind::kInString}, {ParamKind::kInString}, {ParamKind::kInOutString}, {ParamKind::kInOutString}},
      ResultKind::kSmall};
  return spec;
}
}  // namespace ServerSpecShapes

// The parameter shapes of procedure `opnum` (0-4, 8-47); null for a number this table does not hold (5-7,
// anything above 47).
inline const DceRpc::ProcedureSpec* FindServerProcedureSpec(uint16_t opnum) {
  namespace S = ServerSpecShapes;
  switch (opnum) {
    case ServerOp::kGetVersion: return &S::Version();
    case ServerOp::kManagerOpenSession: return &S::OpenSession();
    case ServerOp::kManagerCloseSession:
    case ServerOp::kRefreshAllServices: return &S::SessionStatus();
    case ServerOp::kGetServerInfo:
    case ServerOp::kGetServerConfigXml:
    case ServerOp::kGetServiceProvidersInfo:
    case ServerOp::kGetServicesXml: return &S::SessionBuffer();
    case ServerOp::kCreateServiceProvider: return &S::CreateProvider();
    case ServerOp::kDeleteServiceProvider:
    case ServerOp::kStartServiceProvider:
    case ServerOp::kStopServiceProvider:
    case ServerOp::kUpdateServerConfigXml:
    case ServerOp::kUpdateServicesXml:
    case ServerOp::kStartService:
    case ServerOp::kStopService:
    case ServerOp::kRefreshService: return &S::Name();
    case ServerOp::kGetServiceProviderConfigXml: return &S::NameBuffer();
    case ServerOp::kUpdateServiceProviderConfigXml:
    case ServerOp::kManagerRemoveService: return &S::TwoTextsStatus();
    case ServerOp::kManagerAddService: return &S::AddService();
    case ServerOp::kGetServiceName: return &S::ServiceName();
    case ServerOp::kReserved1:
    case ServerOp::kReserved3:
    case ServerOp::kCloseSession:
    case ServerOp::kGetSession: return &S::Text();
    case ServerOp::kReserved2: return &S::Bytes();
    case ServerOp::kOpenSession: return &S::OpenSession();
    case ServerOp::kNotifySession: return &S::Notify();
    case ServerOp::kAddServiceProvider:
    case ServerOp::kUpdateServiceProviderInfo:
    case ServerOp::kAddServices:
    case ServerOp::kRemoveServices: return &S::NameData();
    case ServerOp::kRemoveServiceProvider: return &S::Name();
    case ServerOp::kGetServiceProvidersFor:
    case ServerOp::kGetServiceProviderInfo:
    case ServerOp::kGetInfo:
    case ServerOp::kGetServices:
    case ServerOp::kReserved22:
    case ServerOp::kReserved23:
    case ServerOp::kGetServicesForServiceProvider:
    case ServerOp::kGetServiceProviderConfiguration: return &S::NameBuffer();
    case ServerOp::kGetServiceProviders:
    case ServerOp::kReserved20: return &S::SessionBuffer();
    case ServerOp::kSetStopFlag: return &S::TwoTexts();
    default: return nullptr;
  }
}

// The parameter shapes of a procedure known to exist (use the ServerOp constants); std::out_of_range for
// any other number.
inline const DceRpc::ProcedureSpec& ServerProcedureSpec(uint16_t opnum) {
  const DceRpc::ProcedureSpec* spec = FindServerProcedureSpec(opnum);
  if (spec == nullptr) throw std::out_of_range("no server procedure with this number");
  return *spec;
}

}  // namespace Korvane::Pictora::Rpc
