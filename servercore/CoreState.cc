// The core's shared state: its construction, the counters, the configuration values and the
// reports.
#include "servercore/CoreState.h"

#include "global/IReporter.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr std::size_t kMaxReportLength = 5000;

}  // namespace

CoreState::CoreState(Seams seams)
    : listener_(seams.listener),
      providerCalls_(seams.providerCalls),
      managementInfo_(seams.managementInfo),
      memoryGuard_(seams.memoryGuard ? std::move(seams.memoryGuard) : MemoryGuard::ForThisProcess()),
      livenessPeriod_(seams.livenessPeriod),
      lastPassEnd_(std::chrono::steady_clock::now()),
      clusterStore_(seams.clusterStore),
      clusterPrefix_(seams.clusterPrefix) {
  // Reports reach the global reporter from the start, log file or not.
  SetStatusReporter(Global::GetGlobalReporter());
}

ServerCounts CoreState::GetCounts() {
  return ServerCounts{sessions_.OpenCount(), providersCount_.load(),
                      static_cast<std::uint64_t>(allocationsCount_.load()),
                      droppedCount_.load(std::memory_order_relaxed)};
}

GU::ElementList CoreState::GetConfiguration() {
  CriticalSectionLock lock(&configurationLock_);
  return configuration_;
}

void CoreState::RefreshServicesLocked() {
  servicesFile_.Refresh(registry_);
  CountLocked();
}

void CoreState::CountLocked() {
  providersCount_ = static_cast<unsigned>(registry_.Providers().size());
  allocationsCount_ = static_cast<int>(registry_.Allocations().size());
}

bool CoreState::AdmitLocked(const std::string& incoming, const char* operation, GU::Status& status) {
  const std::string source = ServerSource(operation);
  const MemoryGuard::Admission admission = memoryGuard_->Admit(incoming.size());
  if (admission == MemoryGuard::Admission::kAdmitted) return true;
  if (admission == MemoryGuard::Admission::kResumed) {
    Report(source.c_str(), "Memory use is below the limit again; new sessions and registrations are accepted");
    return true;
  }
  const std::string message = GU::Format(
      "Not enough server storage is available to process this command: the server holds %zu MiB "
      "of its %zu MiB limit and takes no new sessions or registrations until memory is freed",
      memoryGuard_->LastResidentBytes() >> 20, memoryGuard_->LimitBytes() >> 20);
  if (admission == MemoryGuard::Admission::kRefusalStarted) Report(source.c_str(), "%s", message.c_str());
  status.AddFront(kStatusServerOutOfMemory, message);
  return false;
}

void CoreState::ReportV(const char* source, const char* format, va_list args) {
  try {
    CriticalSectionLock lock(&reportLock_);
    Global::IReporter* reporter = StatusReporter();
    if (reporter == nullptr) return;
    std::string message = GU::FormatV(format, args);
    if (message.size() > kMaxReportLength) message.resize(kMaxReportLength);
    GU::Status record;
    record.Add(0, message, source != nullptr ? source : "");
    reporter->Report(record.ToXml().c_str());
  } catch (...) {
    // A report that cannot be made is dropped; reporting never fails an operation.
  }
}

void CoreState::ReportStatus() {
  try {
    CriticalSectionLock lock(&reportLock_);
    Global::IReporter* reporter = StatusReporter();
    if (reporter != nullptr && status_.Count() > 0) reporter->Report(status_.ToXml().c_str());
  } catch (...) {
  }
}

}  // namespace Korvane::Pictora::ServerCore
