// Reading a file whose contents decide what the process runs.
#pragma once

#include "base/memory.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

// Reads the whole file at `path` when another local user could not have
// chosen its contents. The file and every directory on the way to it are
// reached without a symbolic link; the file is a regular file owned by the
// administrator or by this process's user and not writable by group or
// others; each directory is owned by one of those two and not writable by
// group or others, unless it is sticky and owned by the administrator (as
// the temporary directory is), where no one else can replace an entry.
// Returns 0, 5 for a file or directory that fails, 2 or 3 for a missing one,
// 8 for a file longer than `maxSize`, or the error of the failing read.
uint32_t readTrustedFile(const String& path, Memory& content, uint32_t maxSize);

}  // namespace trivane
