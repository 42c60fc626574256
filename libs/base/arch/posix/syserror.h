// errno numbers turned into the Windows numbers that logs and exceptions carry.
#pragma once

namespace trivane::sys {

// An errno value without a Windows counterpart keeps its own number with the
// application-defined bit of Windows error codes set: 0x20000000 | errno.
constexpr int unmappedErrorBit = 0x20000000;

// The Winsock number (10004, 10054, ...) of a socket call's errno.
int windowsSocketError(int err) noexcept;
// The Win32 number (2, 5, 6, ...) of a file or pipe call's errno.
int windowsError(int err) noexcept;

}  // namespace trivane::sys
