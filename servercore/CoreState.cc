// The core's shared state: its construction, the counters, the configuration values and the
// reports.
#include "servercore/CoreState.h"

#include <cstdlib>
#include <thread>

#include "global/IReporter.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr std::size_t kMaxReportLength = 5000;
// How long a snapshot waits, at most, for the registry lock a lookup holds.
constexpr int kSnapshotAttempts = 10;
constexpr std::chrono::milliseconds kSnapshotPause{5};

// The load a provider last reported in its own updates; else the answer to the last load query.
double LastLoad(const ServiceProviderRecord& record) {
  const std::string reported = record.dynamic.GetValue("Load");
  char* end = nullptr;
  const double load = std::strtod(reported.c_str(), &end);
  return !reported.empty() && *end == '\0' && load >= 0 && load <= 1e9 ? load : record.load;
}

RegistrySnapshot CopyOf(const Registry& registry) {
  RegistrySnapshot snapshot;
  snapshot.taken = std::chrono::system_clock::now();
  snapshot.providers.reserve(registry.Providers().size());
  for (const auto& [name, record] : registry.Providers()) {
    RegistrySnapshot::Provider& provider = snapshot.providers.emplace_back();
    provider.name = name;
    provider.endpoint = record.config.GetValue("Endpoint");
    provider.host = record.config.GetValue("HostMachine");
    provider.load = LastLoad(record);
    provider.lastPing = record.lastPing;
    for (const auto& service : record.services) provider.services.push_back(service.first);
  }
  for (const auto& [name, definition] : registry.Services()) {
    RegistrySnapshot::Service& service = snapshot.services.emplace_back();
    service.name = name;
    service.defined = true;
    service.state = definition.state;
    const auto registered = registry.Allocations().find(name);
    if (registered != registry.Allocations().end())
      service.providers.assign(registered->second.begin(), registered->second.end());
  }
  for (const auto& [name, providers] : registry.Allocations()) {
    if (registry.Services().count(name) != 0) continue;
    snapshot.services.push_back({name, false, {}, {providers.begin(), providers.end()}});
  }
  return snapshot;
}


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
  ServerCounts counts;
  counts.openSessions = sessions_.OpenCount();
  counts.providers = providersCount_.load();
  counts.services = static_cast<std::uint64_t>(allocationsCount_.load());
  counts.providersDropped = droppedCount_.load(std::memory_order_relaxed);
  return counts;
}

std::shared_ptr<const RegistrySnapshot> CoreState::GetRegistrySnapshot() {
  for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kSnapshotPause);
    if (!registryLock_.TryEnter()) continue;
    std::shared_ptr<const RegistrySnapshot> copy;
    try {
      copy = std::make_shared<const RegistrySnapshot>(CopyOf(registry_));
    } catch (...) {
    }
    registryLock_.Leave();
    if (!copy) break;
    CriticalSectionLock lock(&snapshotLock_);
    lastSnapshot_ = copy;
    return copy;
  }
  CriticalSectionLock lock(&snapshotLock_);
  return lastSnapshot_;
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
