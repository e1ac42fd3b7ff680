// The ranking of a lookup: each candidate provider is asked for its load over the provider
// interface, the candidates are sorted least loaded first, and the answer lists their values.
#pragma once

#include <string>
#include <vector>

#include "servercore/IProviderCalls.h"
#include "servercore/Registry.h"

namespace Korvane::Pictora::ServerCore {

// The provider's answer, or 1.0 when it cannot be asked, fails or answers NaN (a NaN would
// break the ordering the sort relies on).
double AskLoad(IProviderCalls* calls, const std::string& host, const std::string& endpoint);

// The candidates by ascending load (LoadComparer); providers with equal loads in any order.
std::vector<const Candidate*> RankByLoad(const std::vector<Candidate>& candidates);

// "<Pictora><Server><ServiceProviders>", each candidate's Config values, and the closing tags.
std::string ProvidersAnswer(const std::vector<const Candidate*>& ranked);

}  // namespace Korvane::Pictora::ServerCore
