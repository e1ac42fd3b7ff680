// The process's own figures for the metrics page, read from /proc/self at each scrape. A
// figure that cannot be read is -1 and left off the page.
#pragma once

namespace Korvane::Pictora::Rpc {

struct ProcessFigures {
  double residentBytes = -1;
  double openDescriptors = -1;
  double maxDescriptors = -1;
  double cpuSeconds = -1;        // user and system
  double startTimeSeconds = -1;  // since the Unix epoch

  static ProcessFigures OfThisProcess();
};

}  // namespace Korvane::Pictora::Rpc
