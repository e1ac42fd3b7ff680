// Internal: NDR 2.0 marshalling of procedure arguments driven by a ProcedureSpec. Decoders treat
// the stub as hostile: every count is checked against the bytes that remain before anything is
// read or allocated, correlated counts must agree, and out-buffer sizes asked for by the peer are
// capped. Stubs are written little-endian; they are read in the byte order of the sender.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "dcerpc/Procedure.h"

namespace Korvane::Pictora::DceRpc {

enum class NdrStatus {
  kOk,
  kBadStubData,  // malformed or inconsistent stub
  kTooLarge,     // the peer asked for an out buffer above the cap
};

// True when every array parameter names a size parameter of a suitable long kind.
bool IsValidSpec(const ProcedureSpec& spec);

// Server side: decodes the [in] values of a request stub into `args` (sized to `spec`) and
// sets the capacities of the [out] values. maxOutBytes caps each out-array size the caller asks for.
NdrStatus DecodeRequestStub(const ProcedureSpec& spec, std::span<const uint8_t> stub, bool bigEndian,
                            size_t maxOutBytes, Arguments& args);

// Server side: appends the response stub ([out] values in order, then the result). Out values are
// cut to their capacities; an [in, out] count that sizes an out array is clamped to the size the
// caller sent, in `args` too.
void EncodeResponseStub(const ProcedureSpec& spec, Arguments& args, std::vector<uint8_t>& out);

// Server side: the most bytes the response stub can take, given the capacities the request set.
size_t ResponseStubBound(const ProcedureSpec& spec, const Arguments& args);

// Client side: appends the request stub from the [in] values and records the capacities the
// response will be checked against.
void EncodeRequestStub(const ProcedureSpec& spec, Arguments& args, std::vector<uint8_t>& out);

// Client side: decodes a response stub into the [out] values and the result of `args`, which must
// be the arguments the request was encoded from.
NdrStatus DecodeResponseStub(const ProcedureSpec& spec, std::span<const uint8_t> stub, bool bigEndian,
                             Arguments& args);

}  // namespace Korvane::Pictora::DceRpc
