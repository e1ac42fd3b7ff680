// Clang thread-safety annotations. The macros live with the DCE/RPC runtime, which may include
// nothing of the system; they are compiler attributes only, so the system takes them from there.
#pragma once

#include "dcerpc/ThreadAnnotations.h"
