// Console control events: the system calls the handler on a thread of its
// own for each event.
#include "base/consolecontrol.h"

#include <windows.h>

#include <atomic>

namespace trivane {

namespace {

std::atomic<ConsoleControlHandler> s_handler{nullptr};
std::atomic<bool> s_installed{false};

BOOL WINAPI dispatch(DWORD controlType) {
    const ConsoleControlHandler handler = s_handler.load();
    return handler && handler(controlType) ? TRUE : FALSE;
}

}  // namespace

bool setConsoleControlHandler(ConsoleControlHandler handler) {
    s_handler = handler;
    if (s_installed.exchange(true)) return true;
    if (SetConsoleCtrlHandler(dispatch, TRUE)) return true;
    s_installed = false;
    return false;
}

}  // namespace trivane
