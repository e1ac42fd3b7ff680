// Text functions shared by every layer. All texts are narrow 8-bit strings.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Korvane::Pictora::GeneralUtilityLib {

// printf-style formatting of any length (first into 4096 bytes, then exactly sized).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// White space: blank, tab, newline, vertical tab, form feed, carriage return.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

// Both empty: true; only one empty: false; otherwise byte or ASCII case-insensitive comparison.
bool Equals(std::string_view a, std::string_view b, bool ignoreCase = false);
bool StartsWith(std::string_view text, std::string_view part, bool ignoreCase = false);
bool EndsWith(std::string_view text, std::string_view part, bool ignoreCase = false);
// Position of the first occurrence, or std::string::npos.
std::size_t Find(std::string_view text, std::string_view part, bool ignoreCase = false);
// Replaces occurrences one at a time, each search restarting at the beginning of the text,
// at most maxCount times and at most text.size() times. Returns the number of replacements.
std::size_t Replace(std::string& text, std::string_view part, std::string_view replacement,
                    bool ignoreCase = false, std::size_t maxCount = SIZE_MAX);
// Middle abbreviation: head, ellipsis, tail; the head takes the odd character.
std::string Abbreviate(std::string_view text, std::string_view ellipsis, std::size_t maxLength);
// Pieces between any of the delimiter characters, empty pieces dropped.
std::vector<std::string> Tokenize(std::string_view text, std::string_view delimiters);
std::string Join(const std::vector<std::string>& pieces, std::string_view separator);
std::string DefaultIfEmpty(std::string_view text, std::string_view defaultText);

// "ON"/"OFF", else the first character: 0/F/N false, 1/T/Y true; otherwise the default.
bool ParseBool(std::string_view text, bool defaultValue);
// Trimmed decimal floating-point text truncated toward zero to 32 bits; default when not all read.
std::int32_t ParseLong(std::string_view text, std::int32_t defaultValue);
// Current local time "YYYY-MM-DDTHH:MM:SS.mmm".
std::string TimeStamp();

}  // namespace Korvane::Pictora::GeneralUtilityLib
