#include "rpc/ReplyText.h"

#include <limits>

namespace Korvane::Pictora::Rpc {

namespace {
constexpr std::string_view kEllipsis = "...";
}

std::string CutMiddle(std::string_view text, size_t maximum) {
  if (text.size() <= maximum) return std::string(text);
  if (maximum < kEllipsis.size()) return {};
  const size_t room = maximum - kEllipsis.size();
  const size_t tail = room / 2;
  const size_t head = room - tail;
  std::string cut;
  cut.reserve(maximum);
  cut.append(text.substr(0, head));
  cut.append(kEllipsis);
  cut.append(text.substr(text.size() - tail));
  return cut;
}

int32_t CopyToBuffer(std::string_view text, int32_t size, std::string& buffer) {
  constexpr size_t kLongMax = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (text.size() >= kLongMax) return std::numeric_limits<int32_t>::max();
  const auto need = static_cast<int32_t>(text.size() + 1);
  if (size < need) return need;
  buffer.assign(text);
  buffer.push_back('\0');
  return 0;
}

std::string TextFromData(std::string_view bytes) {
  return std::string(bytes.substr(0, bytes.find('\0')));
}

}  // namespace Korvane::Pictora::Rpc
