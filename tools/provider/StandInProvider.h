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
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dcerpc/Interface.h"

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
  void HoldIfSilent();
  void CountCall();
  void GetInfo(DceRpc::Arguments& args);

  const StandInSettings settings_;
  mutable std::mutex mutex_;
  std::string endpoint_;               // guarded by mutex_
  std::vector<std::string> services_;  // guarded by mutex_
  bool released_ = false;              // guarded by mutex_
  std::condition_variable releasedChanged_;

  // Calls per second of the last ten seconds, by second modulo 10.
  static constexpr size_t kActivitySeconds = 10;
  std::array<int64_t, kActivitySeconds> callsInSecond_{};  // guarded by mutex_
  std::array<int64_t, kActivitySeconds> secondOfSlot_{};   // guarded by mutex_
};

}  // namespace Korvane::Pictora::Tools
