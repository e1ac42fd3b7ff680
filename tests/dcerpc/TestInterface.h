// A small interface served by the runtime's tests, the interoperability test server, the fuzz
// target and the benchmark. It covers every parameter kind and result kind of the runtime.
#pragma once

#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "dcerpc/Interface.h"
#include "dcerpc/Status.h"

namespace Korvane::Pictora::DceRpc::Testing {

inline const SyntaxId& TestInterfaceId() {
  static const SyntaxId id{*Uuid::Parse("3f1b5c2a-6d7e-4f80-9a1b-2c3d4e5f6071"), 1, 0};
  return id;
}
inline const SyntaxId& SecondInterfaceId() {
  static const SyntaxId id{*Uuid::Parse("0c4e8a92-51d3-4b7f-8e26-9d0a1b2c3d4e"), 2, 1};
  return id;
}

namespace Op {
inline constexpr uint16_t kPing = 0;        // () -> small 1
inline constexpr uint16_t kEcho = 1;        // text, in/out text -> long: reply "echo:"+text, result strlen(text)
inline constexpr uint16_t kBytes = 2;       // text, [in,size_is(inLength)] byte[], long inLength,
                                            // [out,size_is(*outLength)] byte[], [in,out] long* outLength -> small
inline constexpr uint16_t kFill = 3;        // text count, size, [out,size_is(size)] char[], in/out text -> long (buffer reply)
inline constexpr uint16_t kLengthData = 4;  // long n, [in,size_is(n)] char[] -> long: length of the text before NUL
inline constexpr uint16_t kDouble = 5;      // [in,out] double* -> void: doubled
inline constexpr uint16_t kSleep = 6;       // long ms -> small 1
inline constexpr uint16_t kThrow = 7;       // () -> small, always throws
inline constexpr uint16_t kWhoAmI = 9;      // size, [out,size_is(size)] char[] -> long: "uid=U peer=P"
inline constexpr uint16_t kRefuse = 10;     // () -> small, always refused with access denied
inline constexpr uint16_t kUnassigned = 11; // not in the table (8 neither)
inline constexpr uint16_t kCount = 12;
}  // namespace Op

inline ProcedureSpec PingSpec() { return {{}, ResultKind::kSmall}; }
inline ProcedureSpec EchoSpec() {
  return {{{ParamKind::kInString}, {ParamKind::kInOutString}}, ResultKind::kLong};
}
inline ProcedureSpec BytesSpec() {
  return {{{ParamKind::kInString}, {ParamKind::kInBytes, 2}, {ParamKind::kInLong}, {ParamKind::kOutBytes, 4},
           {ParamKind::kInOutLong}},
          ResultKind::kSmall};
}
inline ProcedureSpec FillSpec() {
  return {{{ParamKind::kInString}, {ParamKind::kInLong}, {ParamKind::kOutChars, 1}, {ParamKind::kInOutString}},
          ResultKind::kLong};
}
inline ProcedureSpec LengthDataSpec() { return {{{ParamKind::kInLong}, {ParamKind::kInChars, 0}}, ResultKind::kLong}; }
inline ProcedureSpec DoubleSpec() { return {{{ParamKind::kInOutDouble}}, ResultKind::kVoid}; }
inline ProcedureSpec SleepSpec() { return {{{ParamKind::kInLong}}, ResultKind::kSmall}; }
inline ProcedureSpec WhoAmISpec() { return {{{ParamKind::kInLong}, {ParamKind::kOutChars, 0}}, ResultKind::kLong}; }

// The text of `count` bytes that kFill produces.
inline std::string FillText(size_t count) {
  std::string text(count, ' ');
  for (size_t i = 0; i < count; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

// Buffer reply: 0 and the text with its NUL when it fits, else the size needed.
inline int32_t CopyToBuffer(const std::string& text, Arguments& args, size_t bufferIndex, int32_t size) {
  const auto need = static_cast<int32_t>(text.size() + 1);
  if (size < need) return need;
  args.SetText(bufferIndex, text);
  return 0;
}

inline InterfaceDefinition MakeTestInterface() {
  InterfaceDefinition definition;
  definition.id = TestInterfaceId();
  auto& p = definition.procedures;
  p[Op::kPing] = {PingSpec(), [](const CallContext&, Arguments& a) { a.SetResultSmall(1); }};
  p[Op::kEcho] = {EchoSpec(), [](const CallContext&, Arguments& a) {
                    a.SetText(1, "echo:" + a.Text(0));
                    a.SetResultLong(static_cast<int32_t>(a.Text(0).size()));
                  }};
  p[Op::kBytes] = {BytesSpec(), [](const CallContext&, Arguments& a) {
                     Bytes data = a.Data(1);
                     data.insert(data.begin(), a.Text(0).begin(), a.Text(0).end());
                     a.SetLong(4, static_cast<int32_t>(data.size()));  // the runtime clamps it
                     a.SetData(3, std::move(data));
                     a.SetResultSmall(1);
                   }};
  p[Op::kFill] = {FillSpec(), [](const CallContext&, Arguments& a) {
                    long count = std::stol("0" + a.Text(0));
                    if (count < 0 || count > 4 * 1024 * 1024) return a.SetResultLong(-1);
                    a.SetResultLong(CopyToBuffer(FillText(static_cast<size_t>(count)), a, 2, a.Long(1)));
                  }};
  p[Op::kLengthData] = {LengthDataSpec(), [](const CallContext&, Arguments& a) {
                          a.SetResultLong(static_cast<int32_t>(std::string_view(a.Text(1).c_str()).size()));
                        }};
  p[Op::kDouble] = {DoubleSpec(), [](const CallContext&, Arguments& a) { a.SetDouble(0, a.Double(0) * 2); }};
  p[Op::kSleep] = {SleepSpec(), [](const CallContext&, Arguments& a) {
                     std::this_thread::sleep_for(std::chrono::milliseconds(a.Long(0)));
                     a.SetResultSmall(1);
                   }};
  p[Op::kThrow] = {PingSpec(), [](const CallContext&, Arguments&) { throw std::runtime_error("handler failed"); }};
  p[Op::kRefuse] = {PingSpec(), [](const CallContext&, Arguments&) { throw CallRefused(FaultStatus::kAccessDenied); }};
  p[Op::kWhoAmI] = {WhoAmISpec(), [](const CallContext& c, Arguments& a) {
                      std::string who = "uid=" + (c.hasCredentials ? std::to_string(c.uid) : std::string("none")) +
                                        " peer=" + c.peerAddress;
                      a.SetResultLong(CopyToBuffer(who, a, 1, a.Long(0)));
                    }};
  return definition;
}

inline InterfaceDefinition MakeSecondInterface() {
  return {SecondInterfaceId(), {{0, {PingSpec(), [](const CallContext&, Arguments& a) { a.SetResultSmall(2); }}}}};
}

}  // namespace Korvane::Pictora::DceRpc::Testing
