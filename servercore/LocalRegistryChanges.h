// A single server's registry changes: each step is applied to the registry the moment the core
// hands it over (the core holds the registry lock then), so nothing is left to land, nothing is
// refused for a store's sake, and this server always runs the liveness pass.
#pragma once

#include <functional>

#include "servercore/IRegistryChanges.h"

namespace Korvane::Pictora::ServerCore {

class LocalRegistryChanges : public IRegistryChanges {
 public:
  // The core's application of a change to its registry, run under the registry lock.
  using Apply = std::function<ChangeOutcome(RegistryChange& change)>;

  explicit LocalRegistryChanges(Apply apply) : apply_(std::move(apply)) {}

  bool Accepting(GeneralUtilityLib::Status&) override { return true; }
  ChangeOutcome Take(RegistryChange& change, GeneralUtilityLib::Status& status) override;
  ChangeOutcome Land(RegistryChange&, GeneralUtilityLib::Status&) override { return ChangeOutcome::kDone; }
  bool Leading(IClusterStore::Condition&) override { return true; }

 private:
  const Apply apply_;
};

}  // namespace Korvane::Pictora::ServerCore
