// Internal: bounds-checked reading and little-endian writing of wire bytes. Every read reports
// failure instead of reading past the end; alignment is counted from the start of the reader's
// or writer's window (the stub start for NDR, the PDU start for headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "dcerpc/Uuid.h"

namespace Korvane::Pictora::DceRpc {

class ByteReader {
 public:
  ByteReader(std::span<const uint8_t> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  bool BigEndian() const { return bigEndian_; }

  bool Skip(size_t n) {
    if (n > Remaining()) return false;
    pos_ += n;
    return true;
  }
  bool Align(size_t alignment) {
    size_t pad = (alignment - pos_ % alignment) % alignment;
    return Skip(pad);
  }
  bool ReadU8(uint8_t& value) {
    if (Remaining() < 1) return false;
    value = data_[pos_++];
    return true;
  }
  bool ReadU16(uint16_t& value) {
    uint64_t v;
    if (!ReadUnsigned(2, v)) return false;
    value = static_cast<uint16_t>(v);
    return true;
  }
  bool ReadU32(uint32_t& value) {
    uint64_t v;
    if (!ReadUnsigned(4, v)) return false;
    value = static_cast<uint32_t>(v);
    return true;
  }
  bool ReadU64(uint64_t& value) { return ReadUnsigned(8, value); }
  // Points `bytes` at the next n bytes without copying.
  bool ReadSpan(size_t n, std::span<const uint8_t>& bytes) {
    if (n > Remaining()) return false;
    bytes = data_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  // A UUID whose first three fields are in the reader's byte order.
  bool ReadUuid(Uuid& uuid) {
    uint32_t d1;
    uint16_t d2, d3;
    std::span<const uint8_t> rest;
    if (!ReadU32(d1) || !ReadU16(d2) || !ReadU16(d3) || !ReadSpan(8, rest)) return false;
    uuid.bytes = {static_cast<uint8_t>(d1 >> 24), static_cast<uint8_t>(d1 >> 16),
                  static_cast<uint8_t>(d1 >> 8),  static_cast<uint8_t>(d1),
                  static_cast<uint8_t>(d2 >> 8),  static_cast<uint8_t>(d2),
                  static_cast<uint8_t>(d3 >> 8),  static_cast<uint8_t>(d3)};
    std::memcpy(uuid.bytes.data() + 8, rest.data(), 8);
    return true;
  }
  bool ReadSyntaxId(SyntaxId& id) { return ReadUuid(id.uuid) && ReadU16(id.major) && ReadU16(id.minor); }

 private:
  // One loop per byte order, so that the compiler unrolls each for the constant sizes.
  bool ReadUnsigned(size_t size, uint64_t& value) {
    if (Remaining() < size) return false;
    const uint8_t* bytes = data_.data() + pos_;
    value = 0;
    if (bigEndian_) {
      for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
    } else {
      for (size_t i = size; i > 0; --i) value = (value << 8) | bytes[i - 1];
    }
    pos_ += size;
    return true;
  }

  std::span<const uint8_t> data_;
  bool bigEndian_;
  size_t pos_ = 0;
};

// Appends little-endian values to a byte vector; alignment counts from the vector's size when
// the writer was made.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out), base_(out.size()) {}

  size_t Position() const { return out_.size() - base_; }
  void Align(size_t alignment) { out_.resize(out_.size() + (alignment - Position() % alignment) % alignment, 0); }
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) { Unsigned(v, 2); }
  void U32(uint32_t v) { Unsigned(v, 4); }
  void U64(uint64_t v) { Unsigned(v, 8); }
  void Bytes(std::span<const uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  void Zeros(size_t n) { out_.resize(out_.size() + n, 0); }
  void UuidLE(const Uuid& uuid) {
    const auto& b = uuid.bytes;
    const uint8_t reordered[16] = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6],
                                   b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
    out_.insert(out_.end(), reordered, reordered + 16);
  }
  void Syntax(const SyntaxId& id) {
    UuidLE(id.uuid);
    U16(id.major);
    U16(id.minor);
  }

 private:
  // One size check for the whole value rather than one per byte.
  void Unsigned(uint64_t v, size_t size) {
    const size_t at = out_.size();
    out_.resize(at + size);
    for (size_t i = 0; i < size; ++i) out_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  std::vector<uint8_t>& out_;
  size_t base_;
};

}  // namespace Korvane::Pictora::DceRpc
