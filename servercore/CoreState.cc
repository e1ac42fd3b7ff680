// The core's shared state: its construction, the counters, the configuration values and the
// reports.
#include "servercore/CoreState.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <map>
#include <string_view>
#include <thread>

#include "global/IReporter.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
using GU::CriticalSectionLock;
namespace {

constexpr std::size_t kMaxReportLength = 5000;
// How long a snapshot's slice waits, at most, for the registry lock a lookup holds; and how many
// names a slice copies (about half a millisecond of work), so that a lookup waits no longer.
constexpr int kSnapshotAttempts = 10;
constexpr std::chrono::milliseconds kSnapshotPause{5};
constexpr std::size_t kSnapshotSliceNames = 2048;

// The load a provider last reported in its own updates; else the answer to the last load query.
double LastLoad(const ServiceProviderRecord& record) {
  const std::string reported = record.dynamic.GetValue("Load");
  char* end = nullptr;
  const double load = std::strtod(reported.c_str(), &end);
  return !reported.empty() && *end == '\0' && load >= 0 && load <= 1e9 ? load : record.load;
}

// Where a registry copy taken in slices goes on: the part (providers, the file's services, the
// services only registered) and the last key copied there.
struct SnapshotCursor {
  int part = 0;
  std::optional<std::string> after;
};

// Copies the entries of `map` after the cursor's key while the budget lasts; copy gives what an
// entry cost. True when it reached the end.
template <typename Map, typename Copy>
bool CopySlice(const Map& map, std::optional<std::string>& after, std::size_t& budget, Copy copy) {
  for (auto entry = after ? map.upper_bound(*after) : map.begin(); entry != map.end(); ++entry) {
    if (budget == 0) return false;
    budget -= std::min(budget, copy(entry->first, entry->second));
    after = entry->first;
  }
  return true;
}

// One slice, under the registry lock: the providers without their services (ListProvidersServices
// finds them afterwards from the services' lists). True when the copy is whole.
bool CopySliceOf(const Registry& registry, RegistrySnapshot& snapshot, SnapshotCursor& cursor) {
  std::size_t budget = kSnapshotSliceNames;
  const AllocationMap& registered = registry.Allocations();
  const auto service = [&](const std::string& name, bool defined, const std::string& state) -> std::size_t {
    const auto providers = registered.find(name);
    snapshot.services.push_back({name, defined, state, {}});
    if (providers == registered.end()) return 1;
    snapshot.services.back().providers.assign(providers->second.begin(), providers->second.end());
    return 1 + providers->second.size();
  };
  for (; cursor.part < 3; ++cursor.part, cursor.after.reset()) {
    bool whole = false;
    if (cursor.part == 0) {
      whole = CopySlice(registry.Providers(), cursor.after, budget, [&](const std::string& name, const auto& record) {
        snapshot.providers.push_back({name, record.config.GetValue("Endpoint"), record.config.GetValue("HostMachine"),
                                      LastLoad(record), record.lastPing, {}});
        return std::size_t{1};
      });
    } else if (cursor.part == 1) {
      whole = CopySlice(registry.Services(), cursor.after, budget, [&](const std::string& name, const auto& definition) {
        return service(name, true, definition.state);
      });
    } else {
      whole = CopySlice(registered, cursor.after, budget, [&](const std::string& name, const auto&) {
        return registry.Services().count(name) != 0 ? std::size_t{1} : service(name, false, {});
      });
    }
    if (!whole) return false;
  }
  return true;
}

void ListProvidersServices(RegistrySnapshot& snapshot) {
  std::map<std::string_view, RegistrySnapshot::Provider*, RegistryKeyLess> byName;
  for (RegistrySnapshot::Provider& provider : snapshot.providers) byName.emplace(provider.name, &provider);
  for (const RegistrySnapshot::Service& service : snapshot.services) {
    for (const std::string& name : service.providers) {
      const auto provider = byName.find(name);
      if (provider != byName.end()) provider->second->services.push_back(service.name);
    }
  }
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

bool CoreState::EnterRegistrySoon() {
  for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kSnapshotPause);
    if (registryLock_.TryEnter()) return true;
  }
  return false;
}

std::shared_ptr<const RegistrySnapshot> CoreState::GetRegistrySnapshot() {
  try {
    auto copy = std::make_shared<RegistrySnapshot>();
    copy->taken = std::chrono::system_clock::now();
    SnapshotCursor cursor;
    for (bool whole = false; !whole;) {
      if (!EnterRegistrySoon()) return LastSnapshot();
      try {
        whole = CopySliceOf(registry_, *copy, cursor);
      } catch (...) {
        registryLock_.Leave();
        throw;
      }
      registryLock_.Leave();
    }
    ListProvidersServices(*copy);
    CriticalSectionLock lock(&snapshotLock_);
    lastSnapshot_ = copy;
    return copy;
  } catch (...) {
    return LastSnapshot();
  }
}

std::shared_ptr<const RegistrySnapshot> CoreState::LastSnapshot() {
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
