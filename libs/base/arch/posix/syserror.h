// errno values as the Windows error codes the portable layer reports.
#pragma once

#include <cstdint>

namespace trivane::sys {

// The Windows code of the same failure (ENOENT 2, ENOTDIR 3, EACCES and
// EPERM 5, EBADF 6, ...); an errno without a Windows match becomes
// 0x20000000 | errno, so it stays distinct from every Windows code.
uint32_t windowsErrorOf(int error) noexcept;

}  // namespace trivane::sys
