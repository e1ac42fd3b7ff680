// The status page at "/": one HTML document with its style and script inline, reading the JSON
// API of the same server every two seconds. It asks for nothing from anywhere else, and writes
// every value as text (never as markup), so no registered name can run script in the page.
#pragma once

#include <string_view>

namespace Korvane::Pictora::Rpc {

std::string_view StatusPageHtml();
// The header that holds the page to that: its own origin only, no outside asset.
std::string_view StatusPagePolicy();

}  // namespace Korvane::Pictora::Rpc
