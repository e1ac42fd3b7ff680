#include "dcerpc/Ndr.h"

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>

#include "dcerpc/ByteStream.h"

namespace Korvane::Pictora::DceRpc {

namespace {

bool IsArray(ParamKind kind) {
  return kind == ParamKind::kInChars || kind == ParamKind::kInBytes || kind == ParamKind::kOutChars ||
         kind == ParamKind::kOutBytes;
}

bool IsOutArray(ParamKind kind) { return kind == ParamKind::kOutChars || kind == ParamKind::kOutBytes; }

std::string_view CString(const std::string& text) { return std::string_view(text.c_str()); }

std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The bytes of an array value, whichever of the two byte containers holds it.
std::span<const uint8_t> ArrayBytes(const Arguments& args, size_t i) {
  if (std::holds_alternative<Bytes>(args.At(i))) return args.Data(i);
  return AsBytes(args.Text(i));
}

void StoreArray(ParamKind kind, std::span<const uint8_t> bytes, Arguments& args, size_t i) {
  if (kind == ParamKind::kInBytes || kind == ParamKind::kOutBytes) {
    args.SetData(i, Bytes(bytes.begin(), bytes.end()));
  } else {
    args.SetText(i, std::string(bytes.begin(), bytes.end()));
  }
}

bool ReadLong(ByteReader& r, int32_t& value) {
  uint32_t raw;
  if (!r.Align(4) || !r.ReadU32(raw)) return false;
  value = static_cast<int32_t>(raw);
  return true;
}

bool ReadDouble(ByteReader& r, double& value) {
  uint64_t raw;
  if (!r.Align(8) || !r.ReadU64(raw)) return false;
  value = std::bit_cast<double>(raw);
  return true;
}

// A conformant varying string: offset 0, 1 <= actual <= max, the NUL at actual - 1. The text
// stops at the first NUL; `actual` is the element count on the wire.
bool ReadString(ByteReader& r, std::string& text, uint32_t& actual) {
  uint32_t max, offset;
  if (!r.Align(4) || !r.ReadU32(max) || !r.ReadU32(offset) || !r.ReadU32(actual)) return false;
  if (offset != 0 || actual == 0 || actual > max || actual > r.Remaining()) return false;
  std::span<const uint8_t> bytes;
  r.ReadSpan(actual, bytes);
  if (bytes[actual - 1] != 0) return false;
  // As characters, so that the copy is one memcpy and not a loop over byte iterators.
  const auto* chars = reinterpret_cast<const char*>(bytes.data());
  text.assign(chars, std::char_traits<char>::length(chars));
  return true;
}

bool ReadArray(ByteReader& r, std::span<const uint8_t>& bytes) {
  uint32_t count;
  if (!r.Align(4) || !r.ReadU32(count)) return false;
  return r.ReadSpan(count, bytes);  // fails unless count <= remaining
}

void WriteString(ByteWriter& w, std::string_view text) {
  const auto count = static_cast<uint32_t>(text.size() + 1);
  w.Align(4);
  w.U32(count);
  w.U32(0);
  w.U32(count);
  w.Bytes(AsBytes(text));
  w.U8(0);
}

void WriteLong(ByteWriter& w, int32_t value) {
  w.Align(4);
  w.U32(static_cast<uint32_t>(value));
}

void WriteDouble(ByteWriter& w, double value) {
  w.Align(8);
  w.U64(std::bit_cast<uint64_t>(value));
}

// Writes exactly `count` elements: the value's bytes, cut or zero-filled to that count.
void WriteOutArray(ByteWriter& w, std::span<const uint8_t> bytes, uint32_t count) {
  w.Align(4);
  w.U32(count);
  size_t copied = std::min<size_t>(bytes.size(), count);
  w.Bytes(bytes.first(copied));
  w.Zeros(count - copied);
}

void WriteResult(ByteWriter& w, const ProcedureSpec& spec, const Arguments& args) {
  if (spec.result == ResultKind::kSmall) w.U8(static_cast<uint8_t>(args.ResultSmall()));
  if (spec.result == ResultKind::kLong) WriteLong(w, args.ResultLong());
}

bool ReadResult(ByteReader& r, const ProcedureSpec& spec, Arguments& args) {
  if (spec.result == ResultKind::kSmall) {
    uint8_t v;
    if (!r.ReadU8(v)) return false;
    args.SetResultSmall(static_cast<int8_t>(v));
  } else if (spec.result == ResultKind::kLong) {
    int32_t v;
    if (!ReadLong(r, v)) return false;
    args.SetResultLong(v);
  }
  return true;
}

bool DecodeInParam(ByteReader& r, ParamKind kind, Arguments& args, size_t i) {
  switch (kind) {
    case ParamKind::kInSmall: {
      uint8_t v;
      if (!r.ReadU8(v)) return false;
      args.SetSmall(i, static_cast<int8_t>(v));
      return true;
    }
    case ParamKind::kInLong:
    case ParamKind::kInOutLong: {
      int32_t v;
      if (!ReadLong(r, v)) return false;
      args.SetLong(i, v);
      return true;
    }
    case ParamKind::kInOutDouble: {
      double v;
      if (!ReadDouble(r, v)) return false;
      args.SetDouble(i, v);
      return true;
    }
    case ParamKind::kInString:
    case ParamKind::kInOutString: {
      std::string text;
      uint32_t actual;
      if (!ReadString(r, text, actual)) return false;
      args.SetText(i, std::move(text));
      args.SetCapacity(i, actual - 1);
      return true;
    }
    case ParamKind::kInChars:
    case ParamKind::kInBytes: {
      std::span<const uint8_t> bytes;
      if (!ReadArray(r, bytes)) return false;
      StoreArray(kind, bytes, args, i);
      args.SetCapacity(i, static_cast<uint32_t>(bytes.size()));
      return true;
    }
    case ParamKind::kOutChars:
    case ParamKind::kOutBytes:
      return true;
  }
  return false;
}

// The element count that goes out for an out array: what the routine left in an [in, out]
// count (never above what the caller sent), or the caller's size.
uint32_t OutArrayCount(const ProcedureSpec& spec, const Arguments& args, size_t i) {
  int sizeParam = spec.params[i].sizeParam;
  if (spec.params[sizeParam].kind != ParamKind::kInOutLong) return args.Capacity(i);
  int32_t value = args.Long(sizeParam);
  return value < 0 ? 0 : std::min(static_cast<uint32_t>(value), args.Capacity(i));
}

}  // namespace

bool IsValidSpec(const ProcedureSpec& spec) {
  for (const auto& param : spec.params) {
    if (!IsArray(param.kind)) continue;
    if (param.sizeParam < 0 || static_cast<size_t>(param.sizeParam) >= spec.params.size()) return false;
    ParamKind sizeKind = spec.params[param.sizeParam].kind;
    bool isLong = sizeKind == ParamKind::kInLong || sizeKind == ParamKind::kInOutLong;
    if (!isLong) return false;
  }
  return true;
}

NdrStatus DecodeRequestStub(const ProcedureSpec& spec, std::span<const uint8_t> stub, bool bigEndian,
                            size_t maxOutBytes, Arguments& args) {
  args.Resize(spec.params.size());
  ByteReader r(stub, bigEndian);
  for (size_t i = 0; i < spec.params.size(); ++i) {
    if (!DecodeInParam(r, spec.params[i].kind, args, i)) return NdrStatus::kBadStubData;
  }
  // Sizes are checked once everything is decoded: a count may travel after its array.
  for (size_t i = 0; i < spec.params.size(); ++i) {
    if (!IsArray(spec.params[i].kind)) continue;
    int32_t size = args.Long(spec.params[i].sizeParam);
    if (size < 0) return NdrStatus::kBadStubData;
    if (IsOutArray(spec.params[i].kind)) {
      if (static_cast<size_t>(size) > maxOutBytes) return NdrStatus::kTooLarge;
      args.SetCapacity(i, static_cast<uint32_t>(size));
    } else if (static_cast<uint32_t>(size) != args.Capacity(i)) {
      return NdrStatus::kBadStubData;
    }
  }
  return NdrStatus::kOk;
}

void EncodeResponseStub(const ProcedureSpec& spec, Arguments& args, std::vector<uint8_t>& out) {
  args.Resize(spec.params.size());
  for (size_t i = 0; i < spec.params.size(); ++i) {
    if (!IsOutArray(spec.params[i].kind)) continue;
    int sizeParam = spec.params[i].sizeParam;
    if (spec.params[sizeParam].kind == ParamKind::kInOutLong)
      args.SetLong(sizeParam, static_cast<int32_t>(OutArrayCount(spec, args, i)));
  }
  ByteWriter w(out);
  for (size_t i = 0; i < spec.params.size(); ++i) {
    switch (spec.params[i].kind) {
      case ParamKind::kInOutString: {
        std::string_view text = CString(args.Text(i));
        WriteString(w, text.substr(0, args.Capacity(i)));
        break;
      }
      case ParamKind::kInOutLong: WriteLong(w, args.Long(i)); break;
      case ParamKind::kInOutDouble: WriteDouble(w, args.Double(i)); break;
      case ParamKind::kOutChars:
      case ParamKind::kOutBytes: WriteOutArray(w, ArrayBytes(args, i), OutArrayCount(spec, args, i)); break;
      default: break;
    }
  }
  WriteResult(w, spec, args);
}

size_t ResponseStubBound(const ProcedureSpec& spec, const Arguments& args) {
  size_t bound = 8;  // the result, aligned
  for (size_t i = 0; i < spec.params.size() && i < args.size(); ++i) {
    switch (spec.params[i].kind) {
      case ParamKind::kInOutString: bound += 16 + size_t{args.Capacity(i)}; break;
      case ParamKind::kOutChars:
      case ParamKind::kOutBytes: bound += 8 + size_t{args.Capacity(i)}; break;
      default: bound += 16; break;
    }
  }
  return bound;
}

void EncodeRequestStub(const ProcedureSpec& spec, Arguments& args, std::vector<uint8_t>& out) {
  args.Resize(spec.params.size());
  ByteWriter w(out);
  for (size_t i = 0; i < spec.params.size(); ++i) {
    switch (spec.params[i].kind) {
      case ParamKind::kInSmall: w.U8(static_cast<uint8_t>(args.Small(i))); break;
      case ParamKind::kInLong:
      case ParamKind::kInOutLong: WriteLong(w, args.Long(i)); break;
      case ParamKind::kInOutDouble: WriteDouble(w, args.Double(i)); break;
      case ParamKind::kInString:
      case ParamKind::kInOutString: {
        std::string_view text = CString(args.Text(i));
        WriteString(w, text);
        args.SetCapacity(i, static_cast<uint32_t>(text.size()));
        break;
      }
      case ParamKind::kInChars:
      case ParamKind::kInBytes: {
        std::span<const uint8_t> bytes = ArrayBytes(args, i);
        w.Align(4);
        w.U32(static_cast<uint32_t>(bytes.size()));
        w.Bytes(bytes);
        break;
      }
      case ParamKind::kOutChars:
      case ParamKind::kOutBytes: {
        int32_t size = args.Long(spec.params[i].sizeParam);
        args.SetCapacity(i, size < 0 ? 0 : static_cast<uint32_t>(size));
        break;
      }
    }
  }
}

NdrStatus DecodeResponseStub(const ProcedureSpec& spec, std::span<const uint8_t> stub, bool bigEndian,
                             Arguments& args) {
  args.Resize(spec.params.size());
  ByteReader r(stub, bigEndian);
  std::vector<int64_t> received(spec.params.size(), -1);
  for (size_t i = 0; i < spec.params.size(); ++i) {
    ParamKind kind = spec.params[i].kind;
    switch (kind) {
      case ParamKind::kInOutString: {
        std::string text;
        uint32_t actual;
        if (!ReadString(r, text, actual) || actual - 1 > args.Capacity(i)) return NdrStatus::kBadStubData;
        args.SetText(i, std::move(text));
        break;
      }
      case ParamKind::kInOutLong:
      case ParamKind::kInOutDouble:
        if (!DecodeInParam(r, kind, args, i)) return NdrStatus::kBadStubData;
        break;
      case ParamKind::kOutChars:
      case ParamKind::kOutBytes: {
        std::span<const uint8_t> bytes;
        if (!ReadArray(r, bytes) || bytes.size() > args.Capacity(i)) return NdrStatus::kBadStubData;
        StoreArray(kind, bytes, args, i);
        received[i] = static_cast<int64_t>(bytes.size());
        break;
      }
      default: break;
    }
  }
  if (!ReadResult(r, spec, args)) return NdrStatus::kBadStubData;
  for (size_t i = 0; i < spec.params.size(); ++i) {
    if (received[i] < 0) continue;
    int sizeParam = spec.params[i].sizeParam;
    if (spec.params[sizeParam].kind == ParamKind::kInOutLong && args.Long(sizeParam) != received[i])
      return NdrStatus::kBadStubData;
  }
  return NdrStatus::kOk;
}

}  // namespace Korvane::Pictora::DceRpc
