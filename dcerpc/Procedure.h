// The declarative description of a remote procedure's parameters and the container of argument
// values. One ProcedureSpec serves both sides: the server decodes requests and encodes responses
// with it, the client encodes requests and decodes responses with it.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace Korvane::Pictora::DceRpc {

// NDR 2.0 parameter kinds. Pointers are [ref] and top-level, so they have no wire form of their own.
enum class ParamKind {
  kInSmall,      // [in] small / boolean                                       value: int8_t
  kInLong,       // [in] long                                                  value: int32_t
  kInString,     // [in, string] char*                                         value: std::string
  kInOutString,  // [in, out, string] char*; reply never longer than sent      value: std::string
  kInOutLong,    // [in, out] long*                                            value: int32_t
  kInOutDouble,  // [in, out] double*                                          value: double
  kInChars,      // [in, size_is(sizeParam)] char[]                            value: std::string
  kInBytes,      // [in, size_is(sizeParam)] byte[]                            value: Bytes
  kOutChars,     // [out, size_is(sizeParam)] char[]; sizeParam [in] long      value: std::string
  kOutBytes,     // [out, size_is(*sizeParam)] byte[]; sizeParam [in, out] long*  value: Bytes
};

enum class ResultKind { kVoid, kSmall, kLong };

struct ParamSpec {
  ParamKind kind;
  // For the array kinds: index of the long parameter holding the element count; -1 otherwise.
  int sizeParam = -1;
};

struct ProcedureSpec {
  std::vector<ParamSpec> params;
  ResultKind result = ResultKind::kVoid;
};

using Bytes = std::vector<uint8_t>;
using Value = std::variant<std::monostate, int8_t, int32_t, double, std::string, Bytes>;

// Values by parameter index plus the result. Accessors of a value of another type return an
// empty/zero value instead of throwing.
//
// Capacity(i) is what the peer allows for an [out] value: for kInOutString the most characters
// the reply may hold (the length that was sent), for kOutChars/kOutBytes the element count of the
// caller's buffer. The server fills it while decoding a request; the client fills it while
// encoding one. The encoders truncate to it, so a handler cannot overrun the caller's buffer.
class Arguments {
 public:
  Arguments() = default;
  explicit Arguments(size_t count) : slots_(count) {}

  size_t size() const { return slots_.size(); }
  void Resize(size_t count) { slots_.resize(count); }

  int8_t Small(size_t i) const { return Get<int8_t>(i); }
  int32_t Long(size_t i) const { return Get<int32_t>(i); }
  double Double(size_t i) const { return Get<double>(i); }
  const std::string& Text(size_t i) const;
  const Bytes& Data(size_t i) const;
  const Value& At(size_t i) const { return slots_.at(i).value; }

  void Set(size_t i, Value value) { slots_.at(i).value = std::move(value); }
  void SetSmall(size_t i, int8_t v) { Set(i, v); }
  void SetLong(size_t i, int32_t v) { Set(i, v); }
  void SetDouble(size_t i, double v) { Set(i, v); }
  void SetText(size_t i, std::string v) { Set(i, std::move(v)); }
  void SetData(size_t i, Bytes v) { Set(i, std::move(v)); }

  uint32_t Capacity(size_t i) const { return slots_.at(i).capacity; }
  void SetCapacity(size_t i, uint32_t capacity) { slots_.at(i).capacity = capacity; }

  void SetResultSmall(int8_t v) { result_ = v; }
  void SetResultLong(int32_t v) { result_ = v; }
  int8_t ResultSmall() const { return std::holds_alternative<int8_t>(result_) ? std::get<int8_t>(result_) : 0; }
  int32_t ResultLong() const { return std::holds_alternative<int32_t>(result_) ? std::get<int32_t>(result_) : 0; }

 private:
  template <typename T>
  T Get(size_t i) const {
    const Value& v = slots_.at(i).value;
    return std::holds_alternative<T>(v) ? std::get<T>(v) : T{};
  }

  // A value and its capacity side by side: one allocation per call's arguments.
  struct Slot {
    Value value;
    uint32_t capacity = 0;
  };
  std::vector<Slot> slots_;
  Value result_;
};

}  // namespace Korvane::Pictora::DceRpc
