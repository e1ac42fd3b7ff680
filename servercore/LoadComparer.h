// Orders provider records by ascending load: a plain floating-point less-than.
#pragma once

#include "servercore/ServiceProviderRecord.h"

namespace Korvane::Pictora::ServerCore {

class LoadComparer {
 public:
  virtual ~LoadComparer() = default;
  // By reference: a record may carry a large service map, and the sort compares often.
  // Equal loads are not less, and a NaN load is never less.
  bool operator()(const ServiceProviderRecord& a, const ServiceProviderRecord& b) const {
    return a.load < b.load;
  }
};

}  // namespace Korvane::Pictora::ServerCore
