// Test support: Unix-socket peers of a pipe socket, and a child process that
// acts as another uid.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

namespace testsupport {

inline sockaddr_un unixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// A listening socket bound at `path`, or -1.
inline int listenAt(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = unixAddress(path);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 3) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// 0 when a connection to `path` succeeds, else the errno.
inline int connectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = unixAddress(path);
    const int result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    close(fd);
    return result;
}

// Runs `body` in a child process as `uid`; its result (0..255) is the exit status.
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

}  // namespace testsupport
