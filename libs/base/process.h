// Child processes: start, terminate, wait.
#pragma once

#include "base/array.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

// The handle of one started child process. The handle is the process's
// own (never a pid that could be reused), belongs to one Process object and
// is closed when that object is closed, reassigned or destroyed; closing it
// does not end the process. A Process is used by one thread at a time; a
// thread that works on a process apart from its owner takes a duplicate().
//
// Exited children are reaped: by terminate() and wait() on any handle of
// them, and, for a child that outlives all its handles, by a later start()
// or close() of any Process. Nothing else in the program may wait for "any
// child", or a started child could be reaped behind its handle.
class Process {
public:
    Process() noexcept = default;
    ~Process() { close(); }
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Runs `application` in a session of its own. `commandLine` is the whole
    // command line in the Windows form, program name first (an empty one
    // stands for the application path alone); on POSIX splitCommandLine
    // (commandline.h) gives the arguments, argument 0 being its first token.
    // The child gets this process's environment, current directory and
    // standard input, output and error, and no other descriptor or handle. A
    // handle held before is closed first. Returns 0, or the Windows error
    // code of the failure (2 no such file, 5 access denied, 193 not an
    // executable, 87 a NUL byte in the application or command line).
    uint32_t start(const String& application, const String& commandLine);

    bool isValid() const noexcept { return m_handle >= 0; }
    // The system's process id, 0 without a process.
    int32_t id() const noexcept { return m_pid; }

    // A second handle on the same process; an empty Process without one.
    Process duplicate() const;
    // Whether both hold handles of one start (one is a duplicate of the other).
    bool sameProcess(const Process& other) const noexcept {
        return isValid() && other.isValid() && m_serial == other.m_serial;
    }

    // Kills the process at once (it gets no chance to clean up) and waits
    // up to 2 s for it to end, reaping it; call it without holding a lock
    // others wait for. Returns 0, 6 without a handle, or 5 when the process
    // had already been reaped.
    uint32_t terminate();

    // Waits up to `timeoutMs` (-1 without limit) for the process to end and
    // reaps it. True once it has ended; false on time-out or without a handle.
    bool wait(int32_t timeoutMs);
    // After wait() returned true: the exit status, 128 + the signal number
    // for a process ended by a signal, or -1 when another handle reaped it.
    int32_t exitCode() const noexcept { return m_exitCode; }

    void close() noexcept;

private:
    // True when the child has ended and is reaped now (or was already).
    bool reap() noexcept;

    // The platform's handle (a process descriptor on POSIX), -1 for none.
    intptr_t m_handle = -1;
    int32_t m_pid = 0;
    // Counts starts process-wide, so duplicates can be told from others.
    uint64_t m_serial = 0;
    bool m_reaped = false;
    int32_t m_exitCode = -1;
};

}  // namespace trivane
