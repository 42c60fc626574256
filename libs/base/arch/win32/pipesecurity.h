// What the Windows pipe layer hands to CreateNamedPipeA.
#pragma once

#include "base/pipesecurity.h"

#include <windows.h>

namespace trivane::sys {

// The system's form of the descriptor; null for none.
PSECURITY_DESCRIPTOR nativeDescriptor(const SecurityDescriptor* descriptor) noexcept;

}  // namespace trivane::sys
