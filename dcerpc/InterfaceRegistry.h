// Internal: the interfaces a server serves, looked up by abstract syntax during binds.
// Thread-safe; entries are never removed, so returned pointers stay valid for the registry's life.
#pragma once

#include <memory>
#include <shared_mutex>
#include <vector>

#include "dcerpc/Interface.h"

namespace Korvane::Pictora::DceRpc {

class InterfaceRegistry {
 public:
  // False when an interface with the same UUID and major version is registered already or a
  // procedure description is inconsistent.
  bool Add(InterfaceDefinition definition);

  // The interface with the same UUID and major version whose minor version is at least the
  // client's; nullptr if none.
  const InterfaceDefinition* Find(const SyntaxId& abstractSyntax) const;

 private:
  mutable std::shared_mutex mutex_;
  std::vector<std::unique_ptr<InterfaceDefinition>> interfaces_;
};

}  // namespace Korvane::Pictora::DceRpc
