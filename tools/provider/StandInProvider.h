// The serving side of the stand-in provider: all 27 procedures of the provider interface.
//
// Ping answers true (or a fault with refusePing); the load query answers the fixed load or,
// without one, the calls served in the last ten seconds per thousand, at most 1.0; the
// information request answers a document with a Basic element and the Services list; start,
// stop and refresh requests are logged and answered true; the procedures the server never calls
// answer true. With `silent`, every call is accepted and held unanswered until Release().
//
// Thread safety: handlers run on many worker threads at once; every method is thread-safe.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcerpc/Interface.h"
#include "util/CriticalSection.h"

namespace Korvane::Pictora::Tools {

struct StandInSettings {
  std::string name;
  std::string hostMachine;
  std::optional<double> load;
  bool refusePing = false;
  bool silent = false;
  std::chrono::microseconds answerDelay{0};  // before every answer: a provider further away
};

class StandInProvider {
 public:
  explicit StandInProvider(StandInSettings settings);

  // The interface with a handler for every procedure; the object must outlive the server.
  DceRpc::InterfaceDefinition Definition();

  void SetEndpoint(const std::string& endpoint);
  void SetServices(const std::vector<std::string>& services);
  std::vector<std::string> Services() const;

  double CurrentLoad();
  // The document of the information request.
  std::string InfoDocument(const std::string& level);
  // Lets every held call of a silent provider go (before the server stops).
  void Release();

 private:
  void Handle(uint16_t opnum, DceRpc::Arguments& args);
  void HoldIfSilent() EXCLUDES(section_);
  void CountCall() EXCLUDES(section_);
  void GetInfo(DceRpc::Arguments& args);

  const StandInSettings settings_;
  mutable GeneralUtilityLib::ActiveCriticalSection section_;
  std::string endpoint_ GUARDED_BY(section_);
  std::vector<std::string> services_ GUARDED_BY(section_);
  bool released_ GUARDED_BY(section_) = false;
  GeneralUtilityLib::SectionCondition releasedChanged_;

  // Calls per second of the last ten seconds, by second modulo 10.
  static constexpr size_t kActivitySeconds = 10;
  std::array<int64_t, kActivitySeconds> callsInSecond_ GUARDED_BY(section_){};
  std::array<int64_t, kActivitySeconds> secondOfSlot_ GUARDED_BY(section_){};
};

}  // namespace Korvane::Pictora::Tools
