// The endpoint on which the server's procedure interface is served. The core starts it at the
// end of Init and stops it in Close; the real implementation lives in the procedure layer.
#pragma once

#include <string>

namespace Korvane::Pictora::ServerCore {

class IListener {
 public:
  virtual ~IListener() = default;
  // Starts serving at endpoint over protocolSequence ("ncacn_ip_tcp" or "ncacn_np").
  // On failure fills errorMessage with a readable text and errorCode with the status number.
  virtual bool StartListening(const std::string& endpoint, const std::string& protocolSequence,
                              std::string& errorMessage, long& errorCode) = 0;
  // Stops serving; true also when nothing was listening.
  virtual bool StopListening() = 0;
};

}  // namespace Korvane::Pictora::ServerCore
