// Child processes on Windows: CreateProcessA, the process handle itself as
// the handle, TerminateProcess to end it.
#include "base/process.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace trivane {

namespace {

std::atomic<uint64_t> s_starts{0};

HANDLE native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool holdsNul(const String& text) { return text.find('\0') != String::npos; }

// The exit code of an ended process; a process the system ended with an
// exception status keeps that status.
int32_t exitStatus(HANDLE process) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) return -1;
    return static_cast<int32_t>(code);
}

}  // namespace

uint32_t Process::start(const String& application, const String& commandLine) {
    close();
    if (holdsNul(application) || holdsNul(commandLine)) return ERROR_INVALID_PARAMETER;
    String path = application.clone();
    // The system hands the command line to the child as it is, and may write
    // into the buffer.
    const String whole = commandLine.isEmpty() ? "\""_s + path + "\"" : commandLine;
    std::vector<char> line(whole.data(), whole.data() + whole.length());
    line.push_back(0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    // No handle is inherited: the daemon's pipes and sockets are no business
    // of the child. No console window, and a process group of its own, so a
    // Ctrl+C meant for the daemon's console does not reach it.
    if (!CreateProcessA(path.cStr(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP,
                        nullptr, nullptr, &startup, &created))
        return GetLastError();
    CloseHandle(created.hThread);
    m_handle = reinterpret_cast<intptr_t>(created.hProcess);
    m_pid = static_cast<int32_t>(created.dwProcessId);
    m_serial = ++s_starts;
    m_reaped = false;
    m_exitCode = -1;
    return 0;
}

Process Process::duplicate() const {
    Process copy;
    if (!isValid()) return copy;
    HANDLE second = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), native(m_handle), GetCurrentProcess(), &second, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return copy;
    copy.m_handle = reinterpret_cast<intptr_t>(second);
    copy.m_pid = m_pid;
    copy.m_serial = m_serial;
    copy.m_reaped = m_reaped;
    copy.m_exitCode = m_exitCode;
    return copy;
}

// The handle keeps the ended process's record: nothing needs reaping, the
// exit code is read once the process has ended.
bool Process::reap() noexcept {
    if (m_reaped) return true;
    if (WaitForSingleObject(native(m_handle), 0) != WAIT_OBJECT_0) return false;
    m_reaped = true;
    m_exitCode = exitStatus(native(m_handle));
    return true;
}

uint32_t Process::terminate() {
    if (!isValid()) return ERROR_INVALID_HANDLE;
    if (m_reaped) return ERROR_ACCESS_DENIED;
    if (!TerminateProcess(native(m_handle), 1)) {
        const DWORD error = GetLastError();
        // A process that has already ended cannot be terminated.
        if (reap()) return ERROR_ACCESS_DENIED;
        return error;
    }
    if (WaitForSingleObject(native(m_handle), 2000) == WAIT_OBJECT_0) reap();
    return 0;
}

bool Process::wait(int32_t timeoutMs) {
    if (!isValid()) return false;
    if (m_reaped) return true;
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (WaitForSingleObject(native(m_handle), limit) != WAIT_OBJECT_0) return false;
    return reap();
}

void Process::close() noexcept {
    if (m_handle < 0) return;
    CloseHandle(native(m_handle));
    m_handle = -1;
    m_pid = 0;
    m_serial = 0;
    m_reaped = false;
    m_exitCode = -1;
}

}  // namespace trivane
