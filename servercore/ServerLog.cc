#include "servercore/ServerLog.h"

#include <ctime>

#include "global/Application.h"
#include "global/Installation.h"
#include "global/LogRetention.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr const char* kFileSuffix = "-Server.log";

std::string FileNameForToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[16] = {};
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  return std::string(date) + kFileSuffix;
}

}  // namespace

ServerLog::~ServerLog() {
  if (Global::IReporter* reporter = Global::GetGlobalReporter()) reporter->DetachHandler(&file_);
}

bool ServerLog::OpenIn(const std::string& folder) {
  folder_ = folder;
  file_.SetFile(folder, FileNameForToday());
  const bool opened = file_.Open();
  Attach();
  lastRemoval_ = 0;
  RemoveExpired(std::time(nullptr));
  return opened;
}

void ServerLog::RemoveExpired(std::time_t now) {
  constexpr std::time_t kInterval = 60 * 60;
  if (folder_.empty() || (lastRemoval_ != 0 && now - lastRemoval_ < kInterval)) return;
  lastRemoval_ = now;
  Global::RemoveExpiredDailyLogs(folder_, kFileSuffix, Global::LogRetentionDays(), now);
}

void ServerLog::Attach() {
  if (Global::IReporter* reporter = Global::GetGlobalReporter()) reporter->AttachHandler(&file_);
}

std::string ServerLog::FolderFromSetting(std::string setting) {
  if (setting.empty()) {
    if (Global::IApplication* application = Global::GetApplicationObject()) {
      application->GetFolder(setting, Global::kLogsFolder);
    } else {
      setting = Global::InstallationFolder(Global::kLogsFolder);
    }
    setting += "Server/";
  }
  GU::Replace(setting, "\\", "/");
  if (!GU::EndsWith(setting, "/")) setting += "/";
  return setting;
}

}  // namespace Korvane::Pictora::ServerCore
