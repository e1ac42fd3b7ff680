#include "util/TextUtil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <new>

namespace Korvane::Pictora::GeneralUtilityLib {

namespace {

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameBytes(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FormatV(format, args);
  va_end(args);
  return result;
}

std::string FormatV(const char* format, va_list args) {
  constexpr std::size_t kFirstTry = 4096;
  char buffer[kFirstTry];
  va_list firstArgs;
  va_copy(firstArgs, args);
  const int needed = std::vsnprintf(buffer, sizeof buffer, format, firstArgs);
  va_end(firstArgs);
  if (needed < 0) return {};
  if (static_cast<std::size_t>(needed) < kFirstTry) return std::string(buffer, needed);

  try {
    std::string result(static_cast<std::size_t>(needed), '\0');
    va_list secondArgs;
    va_copy(secondArgs, args);
    // std::string keeps room for the terminating NUL beyond size().
    std::vsnprintf(result.data(), result.size() + 1, format, secondArgs);
    va_end(secondArgs);
    return result;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

std::string TrimLeft(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

std::string TrimRight(std::string_view text) {
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

std::string ToLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = LowerAscii(c);
  return result;
}

std::string ToUpper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = UpperAscii(c);
  return result;
}

bool Equals(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  return SameBytes(a, b, ignoreCase);
}

bool StartsWith(std::string_view text, std::string_view part, bool ignoreCase) {
  return part.size() <= text.size() && SameBytes(text.substr(0, part.size()), part, ignoreCase);
}

bool EndsWith(std::string_view text, std::string_view part, bool ignoreCase) {
  return part.size() <= text.size() &&
         SameBytes(text.substr(text.size() - part.size()), part, ignoreCase);
}

std::size_t Find(std::string_view text, std::string_view part, bool ignoreCase) {
  if (!ignoreCase) return text.find(part);
  return ToLower(text).find(ToLower(part));
}

std::size_t Replace(std::string& text, std::string_view part, std::string_view replacement,
                    bool ignoreCase, std::size_t maxCount) {
  // An empty part would match everywhere forever; there is nothing sensible to replace.
  if (part.empty()) return 0;
  const std::size_t limit = std::min(maxCount, text.size());
  std::size_t count = 0;
  while (count < limit) {
    const std::size_t position = Find(text, part, ignoreCase);
    if (position == std::string::npos) break;
    text.replace(position, part.size(), replacement);
    ++count;
  }
  return count;
}

std::string Abbreviate(std::string_view text, std::string_view ellipsis, std::size_t maxLength) {
  if (text.size() <= maxLength) return std::string(text);
  if (ellipsis.size() > maxLength) return {};
  const std::size_t keep = maxLength - ellipsis.size();
  const std::size_t tail = keep / 2;
  const std::size_t head = keep - tail;
  std::string result;
  result.reserve(maxLength);
  result.append(text.substr(0, head)).append(ellipsis).append(text.substr(text.size() - tail));
  return result;
}

std::vector<std::string> Tokenize(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(delimiters, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string Join(const std::vector<std::string>& pieces, std::string_view separator) {
  std::string result;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) result.append(separator);
    result.append(pieces[i]);
  }
  return result;
}

std::string DefaultIfEmpty(std::string_view text, std::string_view defaultText) {
  return std::string(text.empty() ? defaultText : text);
}

bool ParseBool(std::string_view text, bool defaultValue) {
  const std::string upper = ToUpper(Trim(text));
  if (upper == "ON") return true;
  if (upper == "OFF") return false;
  if (upper.empty()) return defaultValue;
  switch (upper[0]) {
    case '0':
    case 'F':
    case 'N':
      return false;
    case '1':
    case 'T':
    case 'Y':
      return true;
    default:
      return defaultValue;
  }
}

std::int32_t ParseLong(std::string_view text, std::int32_t defaultValue) {
  if (text.empty()) return defaultValue;
  const std::string trimmed = Trim(text);
  char* end = nullptr;
  const double value = std::strtod(trimmed.c_str(), &end);
  // Blank text reads as 0: nothing is left unread. Text with an embedded NUL is not a number.
  if (end != trimmed.c_str() + trimmed.size()) return defaultValue;
  if (std::isnan(value)) return defaultValue;
  // Converting an out-of-range double is undefined, so clamp before truncating.
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  if (value <= kMin) return std::numeric_limits<std::int32_t>::min();
  if (value >= kMax) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value);
}

std::string TimeStamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03ld", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, now.tv_nsec / 1000000);
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
