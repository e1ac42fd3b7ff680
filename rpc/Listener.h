// The server's endpoint on the runtime: opens the configured protocol sequence and endpoint,
// registers the procedure interface and serves it on the runtime's worker threads (up to 1234
// calls at once), until StopListening. The core starts it at the end of its start-up and stops
// it when it closes.
//
// Thread safety: StartListening and StopListening are meant for one controlling thread (the
// host's); TcpPort may be read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dcerpc/Client.h"
#include "dcerpc/Server.h"
#include "rpc/ServerInterface.h"
#include "servercore/IListener.h"
#include "util/CriticalSection.h"

namespace Korvane::Pictora::Rpc {

class Listener : public ServerCore::IListener {
 public:
  static constexpr size_t kMaxCalls = 1234;

  // `core` gives the procedures their core (by default the published one); `observer` (optional)
  // sees every answered call and must be cheap: it runs on the worker thread after each call.
  explicit Listener(CoreSource core = {}, DceRpc::CallObserver observer = {});
  ~Listener() override;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // On failure errorMessage is the runtime's text for the status and errorCode the status; a
  // second start while listening fails with 1713 (already listening).
  bool StartListening(const std::string& endpoint, const std::string& protocolSequence,
                      std::string& errorMessage, long& errorCode) override EXCLUDES(section_);
  // Stops accepting, waits (bounded) for calls in progress, removes a pipe socket and unregisters
  // the interface. False when it was not listening.
  bool StopListening() override EXCLUDES(section_);

  // The TCP port being served (0 when none), for callers that asked for port "0".
  uint16_t TcpPort() const EXCLUDES(section_);
  // Whether it accepts calls (on TCP or the local channel): the readiness probe asks.
  bool Listening() const EXCLUDES(section_);

 private:
  CoreSource core_;
  const DceRpc::CallObserver observer_;
  // Taken before the runtime's own mutexes; the runtime is stopped outside it.
  mutable GeneralUtilityLib::ActiveCriticalSection section_;
  std::unique_ptr<DceRpc::Server> server_ GUARDED_BY(section_);
};

// A client binding to another process's endpoint, or nothing when the texts do not make one
// (empty or malformed address or endpoint, unknown protocol sequence). The binding is a value;
// dropping it frees it. Any thread.
std::optional<DceRpc::Binding> BindToEndpoint(const std::string& networkAddress,
                                              const std::string& endpoint,
                                              const std::string& protocolSequence);

}  // namespace Korvane::Pictora::Rpc
