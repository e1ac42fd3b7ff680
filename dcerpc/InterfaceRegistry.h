// Internal: the interfaces a server serves, looked up by abstract syntax during binds.
// Thread-safe; entries are never removed, so returned pointers stay valid for the registry's life.
// A plain mutex rather than a reader-writer one: Find runs once per presentation context of a
// bind, not per call, and holds the mutex for a scan of a few entries.
#pragma once

#include <memory>
#include <vector>

#include "dcerpc/Interface.h"
#include "dcerpc/Mutex.h"

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
  mutable Mutex mutex_;
  std::vector<std::unique_ptr<InterfaceDefinition>> interfaces_ GUARDED_BY(mutex_);
};

}  // namespace Korvane::Pictora::DceRpc
