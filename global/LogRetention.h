// The LogRetentionDays operator setting of the installation key: daily log files ("YYYYMMDD"
// and a suffix, dated the day they were opened) older than that many days are removed. Unset,
// empty or 0 keeps every file.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace Korvane::Pictora::Global {

// The setting as read now; 0 when unset or not a whole number.
int LogRetentionDays();

// Removes the files of `folder` (ending in "/") named "YYYYMMDD<suffix>" dated before the last
// `keepDays` local days up to `now` (today counts as one). Other files stay, and nothing goes
// when keepDays is 0 or less. The number of files removed.
std::size_t RemoveExpiredDailyLogs(const std::string& folder, std::string_view suffix, int keepDays, std::time_t now);

}  // namespace Korvane::Pictora::Global
