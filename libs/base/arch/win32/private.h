// Security attributes that give the object's owner alone access, for files
// and directories created private to the process's user.
#pragma once

#include <windows.h>

namespace trivane::sys {

// Lives until the process ends; null when the system refused to build it
// (the object then gets the default access of its parent).
SECURITY_ATTRIBUTES* ownerOnlyAttributes() noexcept;

// Whether `object` (a file, or a directory when `directory`) is no reparse
// point, is owned by the system, the administrators or this process's
// account, and lets nobody else change it.
bool onlyTrustedMayChange(HANDLE object, bool directory) noexcept;

}  // namespace trivane::sys
