// Console control events (Ctrl+C, Ctrl+Break, close, log-off, shut-down) and
// the handler that receives them.
#pragma once

#include <cstdint>

namespace trivane {

// The Windows control types.
inline constexpr uint32_t ctrlCEvent = 0;
inline constexpr uint32_t ctrlBreakEvent = 1;
inline constexpr uint32_t ctrlCloseEvent = 2;
inline constexpr uint32_t ctrlLogoffEvent = 5;
inline constexpr uint32_t ctrlShutdownEvent = 6;

// Returns true when it handled the event; false lets the default action
// (ending the process) happen.
using ConsoleControlHandler = bool (*)(uint32_t controlType);

// SetConsoleCtrlHandler(handler, TRUE). One handler at a time; it runs on a
// thread of the platform layer's own, never inside a signal handler. On
// Linux SIGINT is Ctrl+C, SIGQUIT Ctrl+Break, SIGHUP close and SIGTERM
// shut-down. Call it before starting other threads: the four signals are
// blocked in the calling thread, and threads started afterwards inherit that.
bool setConsoleControlHandler(ConsoleControlHandler handler);

}  // namespace trivane
