// Child processes on POSIX: posix_spawn in a new session, a pidfd as the
// handle, SIGKILL to terminate.
#include "base/process.h"

#include "base/commandline.h"

#include "base/arch/posix/syserror.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace trivane {

namespace {

std::atomic<uint64_t> s_starts{0};

// The open handles of each start, and the children whose last handle
// closed while they still ran: those are reaped once they have ended, so
// they do not stay zombies for the rest of the daemon's life.
struct Handles {
    std::mutex lock;
    std::unordered_map<uint64_t, uint32_t> openCount;
    std::vector<int> orphans;
};

Handles& handles() {
    static Handles* const s_handles = new Handles;
    return *s_handles;
}

void countHandle(uint64_t serial) {
    Handles& h = handles();
    std::lock_guard<std::mutex> hold(h.lock);
    ++h.openCount[serial];
}

// Reaps the ended child of `handle`: 1 reaped now, 0 still running, -1 gone
// already (reaped elsewhere). `status` receives the exit code when reaped.
int reapHandle(int handle, int32_t& status) {
    siginfo_t info;
    for (;;) {
        std::memset(&info, 0, sizeof info);
        if (waitid(P_PIDFD, static_cast<id_t>(handle), &info, WEXITED | WNOHANG) == 0) break;
        if (errno != EINTR) return -1;
    }
    if (info.si_pid == 0) return 0;
    status = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    return 1;
}

void reapOrphans() {
    Handles& h = handles();
    std::lock_guard<std::mutex> hold(h.lock);
    for (size_t i = 0; i < h.orphans.size();) {
        int32_t status;
        if (reapHandle(h.orphans[i], status) != 0) {
            ::close(h.orphans[i]);
            h.orphans[i] = h.orphans.back();
            h.orphans.pop_back();
        } else {
            ++i;
        }
    }
}

// Blocks until `handle` is readable (its process ended) or the time is up.
bool waitEnded(int handle, int32_t timeoutMs) {
    pollfd p{handle, POLLIN, 0};
    for (;;) {
        const int n = poll(&p, 1, timeoutMs);
        if (n > 0) return true;
        if (n == 0) return false;
        // An interrupted wait restarts with the whole time again: the only
        // interruptions are the rare signals the process lets through.
        if (errno != EINTR) return false;
    }
}

bool holdsNul(const String& text) { return text.find('\0') != String::npos; }

}  // namespace

uint32_t Process::start(const String& application, const String& commandLine) {
    close();
    reapOrphans();
    if (holdsNul(application) || holdsNul(commandLine)) return 87;

    String path = application.clone();
    // The command line is the whole Windows one, program name first: that
    // name is argument 0, and the file run is `application` all the same.
    Array<String> arguments = splitCommandLine(commandLine);
    std::vector<String> texts;
    texts.reserve(arguments.count() + 1);
    if (arguments.count() == 0) texts.push_back(path);
    for (uint32_t i = 0; i < arguments.count(); ++i) texts.push_back(arguments[i].clone());
    std::vector<char*> argv;
    for (String& text : texts) argv.push_back(const_cast<char*>(text.cStr()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Only the standard descriptors pass: the daemon's pipe and sockets are
    // no business of the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    // The daemon blocks its control signals for its signal thread, and may
    // ignore SIGPIPE: the child starts with neither.
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int error = posix_spawn(&pid, path.cStr(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return static_cast<uint32_t>(sys::windowsError(error));

    // Nothing reaps the new child before this point, so its pid still names it.
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (handle < 0) {
        const int openError = errno;
        ::kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return static_cast<uint32_t>(sys::windowsError(openError));
    }
    m_handle = handle;
    m_pid = pid;
    m_serial = ++s_starts;
    m_reaped = false;
    m_exitCode = -1;
    countHandle(m_serial);
    return 0;
}

Process Process::duplicate() const {
    Process copy;
    if (!isValid()) return copy;
    const int handle = fcntl(static_cast<int>(m_handle), F_DUPFD_CLOEXEC, 0);
    if (handle < 0) return copy;
    copy.m_handle = handle;
    copy.m_pid = m_pid;
    copy.m_serial = m_serial;
    copy.m_reaped = m_reaped;
    copy.m_exitCode = m_exitCode;
    countHandle(m_serial);
    return copy;
}

bool Process::reap() noexcept {
    if (m_reaped) return true;
    int32_t status = -1;
    const int result = reapHandle(static_cast<int>(m_handle), status);
    if (result == 0) return false;
    m_reaped = true;
    m_exitCode = result == 1 ? status : -1;
    return true;
}

uint32_t Process::terminate() {
    if (!isValid()) return 6;
    if (m_reaped) return 5;
    if (syscall(SYS_pidfd_send_signal, static_cast<int>(m_handle), SIGKILL, nullptr, 0) != 0) {
        const int error = errno;
        if (error == ESRCH) {
            reap();
            return 5;
        }
        return static_cast<uint32_t>(sys::windowsError(error));
    }
    // SIGKILL ends a process within moments unless it is stuck in the
    // kernel; such a one is left to be reaped later rather than waited for.
    if (waitEnded(static_cast<int>(m_handle), 2000)) reap();
    return 0;
}

bool Process::wait(int32_t timeoutMs) {
    if (!isValid()) return false;
    if (m_reaped) return true;
    if (!waitEnded(static_cast<int>(m_handle), timeoutMs < 0 ? -1 : timeoutMs)) return false;
    return reap();
}

void Process::close() noexcept {
    if (m_handle < 0) return;
    const int handle = static_cast<int>(m_handle);
    const bool ended = reap();
    const uint64_t serial = m_serial;
    m_handle = -1;
    m_pid = 0;
    m_serial = 0;
    m_reaped = false;
    m_exitCode = -1;
    {
        Handles& h = handles();
        std::lock_guard<std::mutex> hold(h.lock);
        const auto count = h.openCount.find(serial);
        const bool last = count == h.openCount.end() || --count->second == 0;
        if (last && count != h.openCount.end()) h.openCount.erase(count);
        if (last && !ended) {
            h.orphans.push_back(handle);
            return;
        }
    }
    ::close(handle);
    reapOrphans();
}

}  // namespace trivane
