#include "dcerpc/InterfaceRegistry.h"

#include "dcerpc/Ndr.h"

namespace Korvane::Pictora::DceRpc {

bool InterfaceRegistry::Add(InterfaceDefinition definition) {
  for (const auto& [opnum, procedure] : definition.procedures) {
    if (!IsValidSpec(procedure.spec)) return false;
  }
  MutexLock lock(mutex_);
  for (const auto& existing : interfaces_) {
    if (existing->id.uuid == definition.id.uuid && existing->id.major == definition.id.major) return false;
  }
  interfaces_.push_back(std::make_unique<InterfaceDefinition>(std::move(definition)));
  return true;
}

const InterfaceDefinition* InterfaceRegistry::Find(const SyntaxId& abstractSyntax) const {
  MutexLock lock(mutex_);
  for (const auto& existing : interfaces_) {
    if (existing->id.uuid == abstractSyntax.uuid && existing->id.major == abstractSyntax.major &&
        abstractSyntax.minor <= existing->id.minor)
      return existing.get();
  }
  return nullptr;
}

}  // namespace Korvane::Pictora::DceRpc
