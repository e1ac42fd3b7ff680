#include "servercore/LocalRegistryChanges.h"

namespace Korvane::Pictora::ServerCore {

ChangeOutcome LocalRegistryChanges::Take(RegistryChange& change, GeneralUtilityLib::Status&) {
  const ChangeOutcome outcome = apply_(change);
  change.settled = true;
  return outcome;
}

}  // namespace Korvane::Pictora::ServerCore
