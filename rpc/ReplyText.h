// How the procedure layer hands texts back to a caller: the buffer reply (a text copied into
// the caller's receive buffer, or the size it needs) and the middle-ellipsis cut that bounds
// error texts while keeping both their beginning and their end readable.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Korvane::Pictora::Rpc {

// Longest error text a procedure writes; procedures 11, 15, 16 and 17 keep one character less.
inline constexpr size_t kMaxErrorText = 4000;
inline constexpr size_t kMaxProviderErrorText = 3999;

// text unchanged when it has at most `maximum` characters; otherwise its first
// ceil((maximum-3)/2) characters, "..." and its last floor((maximum-3)/2) characters; the empty
// text when even the ellipsis does not fit.
std::string CutMiddle(std::string_view text, size_t maximum);

// The buffer reply. need = text length + 1 (the NUL). When size >= need, `buffer` receives the
// text and its NUL (the runtime zero-fills the rest of the caller's buffer) and the result is 0;
// otherwise `buffer` is left alone and the result is need. A need beyond what a long can say
// is answered with the largest long (no buffer can be that large anyway).
int32_t CopyToBuffer(std::string_view text, int32_t size, std::string& buffer);

// A length + data parameter as text: the bytes up to the first NUL, or all of them when they
// hold none (nothing beyond them is ever read).
std::string TextFromData(std::string_view bytes);

}  // namespace Korvane::Pictora::Rpc
