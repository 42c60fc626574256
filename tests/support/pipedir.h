// Test support for named pipes: a pipe directory of the test's own, open
// security attributes, and a child process running as another uid.
#pragma once

#include "base/namedpipeio.h"
#include "base/pipesecurity.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

namespace pipetest {

// TRIVANE_PIPE_DIR points at a fresh directory (mode 0755, reachable by
// every uid) for as long as the object lives.
class PipeDir {
public:
    PipeDir() {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() / ("trivane-pipe-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
        chmod(m_path.c_str(), 0755);
        setenv("TRIVANE_PIPE_DIR", m_path.c_str(), 1);
    }
    ~PipeDir() {
        unsetenv("TRIVANE_PIPE_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    PipeDir(const PipeDir&) = delete;
    PipeDir& operator=(const PipeDir&) = delete;

    std::string path(const std::string& name = "") const { return name.empty() ? m_path.string() : (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Attributes that let everyone connect, as the daemon's pipe does.
inline const trivane::sys::SecurityAttributes* everyoneMayConnect() {
    static const trivane::sys::SecurityAttributes* s_attributes = [] {
        using namespace trivane::sys;
        AccessEntry entry;
        everyoneSid(entry.trustee);
        entry.accessMask = fileGenericRead | fileWriteData;
        Acl* acl = nullptr;
        SecurityDescriptor* descriptor = nullptr;
        setEntriesInAcl(&entry, 1, acl);
        createSecurityDescriptor(acl, descriptor);
        auto* attributes = new SecurityAttributes();
        attributes->securityDescriptor = descriptor;
        return attributes;
    }();
    return s_attributes;
}

constexpr uid_t nobody = 65534;

// Runs `body` in a child process as `uid` (all three ids); its result
// (0..255) is the exit status, 254 for a child that did not exit.
inline int asUser(uid_t uid, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) _exit(255);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}

// Opens the pipe, retrying while every instance is busy, as a Windows
// client waits for a free instance.
inline void openRetrying(trivane::NamedPipeIO& pipe, const trivane::String& name) {
    trivane::SocketAddress address;
    address.set(trivane::SocketAddress::HostName, name, trivane::String());
    for (;;) {
        try {
            pipe.connect(address, 0, trivane::NoMutex::instance(), trivane::String());
            return;
        } catch (const trivane::ENamedPipeIO& e) {
            if (e.code() != 231) throw;
            usleep(1000);
        }
    }
}

}  // namespace pipetest
