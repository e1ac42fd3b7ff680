#include "servercore/LoadQueries.h"

#include <algorithm>
#include <cmath>

#include "servercore/LoadComparer.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;

double AskLoad(IProviderCalls* calls, const std::string& host, const std::string& endpoint) {
  double load = 1.0;
  if (calls == nullptr) return load;
  try {
    calls->GetLoad(host, endpoint, load);
  } catch (...) {
  }
  return std::isnan(load) ? 1.0 : load;
}

std::vector<const Candidate*> RankByLoad(const std::vector<Candidate>& candidates) {
  std::vector<const Candidate*> ranked;
  ranked.reserve(candidates.size());
  for (const Candidate& candidate : candidates) ranked.push_back(&candidate);
  const LoadComparer less;
  std::sort(ranked.begin(), ranked.end(),
            [&less](const Candidate* a, const Candidate* b) { return less(a->record, b->record); });
  return ranked;
}

std::string ProvidersAnswer(const std::vector<const Candidate*>& ranked) {
  std::string answer = "<Pictora><Server><ServiceProviders>";
  for (const Candidate* candidate : ranked) {
    answer += "\n<ServiceProvider><Config>\n\t";
    answer += GU::ListToXml(candidate->record.config);
    answer += "\n</Config></ServiceProvider>";
  }
  answer += "\n</ServiceProviders></Server></Pictora>";
  return answer;
}

}  // namespace Korvane::Pictora::ServerCore
