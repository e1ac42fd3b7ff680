#include "global/LogRetention.h"

#include <unistd.h>

#include <vector>

#include "global/Installation.h"
#include "util/Globber.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Global {
namespace GU = GeneralUtilityLib;
namespace {

constexpr int kMaxDays = 100000;  // beyond, the cut-off would fall before the calendar's start

std::string LocalDate(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char date[16] = {};
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  return date;
}

bool IsDate(std::string_view text) {
  return text.size() == 8 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

int LogRetentionDays() {
  const std::string text = GU::Trim(ReadInstallationValue("LogRetentionDays"));
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoi(text);
}

std::size_t RemoveExpiredDailyLogs(const std::string& folder, std::string_view suffix, int keepDays, std::time_t now) {
  if (keepDays <= 0 || folder.empty() || keepDays > kMaxDays) return 0;
  // Eight-digit dates compare as text; the oldest date kept is keepDays - 1 days before today.
  const std::string oldestKept = LocalDate(now - static_cast<std::time_t>(keepDays - 1) * 24 * 60 * 60);
  GU::Globber globber;
  if (!globber.SetPattern(folder + "*" + std::string(suffix))) return 0;
  std::vector<std::string> expired;
  while (const GU::FindData* found = globber.Next()) {
    const std::string& name = found->name;
    if (name.size() != 8 + suffix.size() || !GU::EndsWith(name, suffix)) continue;
    const std::string date = name.substr(0, 8);
    if (IsDate(date) && date < oldestKept) expired.push_back(folder + name);
  }
  std::size_t removed = 0;
  for (const std::string& path : expired) removed += ::unlink(path.c_str()) == 0 ? 1 : 0;
  return removed;
}

}  // namespace Korvane::Pictora::Global
