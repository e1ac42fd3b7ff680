// The reporter behind GetGlobalReporter(), usable on its own (for example in tests).
#pragma once

#include <vector>

#include "global/IReporter.h"
#include "util/CriticalSection.h"
#include "util/ThreadAnnotations.h"

namespace Korvane::Pictora::Global {

// Fans every report out to its handlers in the order they were attached.
//
// Thread-safe. Handlers are called with the reporter's lock held, so DetachHandler waits for
// a report in progress and a handler may be destroyed as soon as it is detached. The lock is
// re-entrant: a handler may report, attach or detach from inside HandleReport.
class Reporter : public IReporter {
 public:
  Reporter() = default;
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // 1 when the handler is attached (or already was), 0 for a null handler.
  int AttachHandler(IReportHandler* handler) override;
  // 1 when the handler was attached, 0 otherwise.
  int DetachHandler(IReportHandler* handler) override;
  int HandlerCount() const override;
  // The number of handlers the text was handed to (0 for a null text).
  int Report(const char* statusXml) override;

 private:
  mutable GeneralUtilityLib::ActiveCriticalSection section_;
  std::vector<IReportHandler*> handlers_ GUARDED_BY(section_);
};

}  // namespace Korvane::Pictora::Global
