// Named pipes on Linux: a Unix-domain stream socket in the pipe directory,
// the client's identity from the credentials the kernel recorded at connect.
#include "base/arch/namedpipe.h"

#include "base/arch/posix/pipesecurity.h"
#include "base/arch/posix/syserror.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace trivane::sys {

struct PipeListener {
    int socket = -1;
    int directory = -1;
    dev_t device = 0;
    ino_t inode = 0;
    String name;
};

namespace {

int fd(PipeHandle pipe) { return static_cast<int>(pipe); }

uint32_t pipeError(int err) {
    switch (err) {
        case ENOENT:
        case ECONNREFUSED: return errorFileNotFound;  // no server behind the name
        case EAGAIN: return errorPipeBusy;
        case EACCES:
        case EPERM: return errorAccessDenied;
        case EPIPE:
        case ECONNRESET: return errorNoData;
        default: return static_cast<uint32_t>(windowsError(err));
    }
}

bool unixAddress(const String& path, sockaddr_un& address, uint32_t& error) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.length() >= sizeof address.sun_path) {
        error = 206;  // ERROR_FILENAME_EXCED_RANGE
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.length());
    return true;
}

int newSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

// 1 ready, 0 time-out, -1 error; 0 ms waits without limit.
int waitFor(int descriptor, short events, uint32_t timeoutMs) {
    pollfd p{descriptor, events, 0};
    const int wait = timeoutMs == 0 ? -1 : timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    for (;;) {
        const int rc = poll(&p, 1, wait);
        if (rc >= 0) return rc;
        if (errno != EINTR) return -1;
    }
}

// 0 connected, else the errno of the attempt.
int connectTo(int descriptor, const sockaddr_un& address) {
    for (;;) {
        if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

// A pipe name is one file name in the pipe directory: nothing that could
// reach another directory.
bool validName(const String& name, uint32_t& error) {
    const bool valid = !name.isEmpty() && name.find('/') == String::npos && name.find('\\') == String::npos &&
                       name.find('\0') == String::npos && !(name == "."_s) && !(name == ".."_s);
    if (!valid) error = errorInvalidName;
    return valid;
}

String fullPath(const String& directory, const String& name) {
    const bool slash = !directory.isEmpty() && directory.charAt(directory.length() - 1) == '/';
    return slash ? directory + name : directory + "/" + name;
}

}  // namespace

PipeHandle pipeConnect(const String& name, PipeError& failure) {
    uint32_t& error = failure.code;
    if (!validName(name, error)) return invalidPipe;
    sockaddr_un address;
    if (!unixAddress(fullPath(pipeDirectory(), name), address, error)) return invalidPipe;
    const int s = newSocket();
    if (s < 0) {
        error = pipeError(errno);
        return invalidPipe;
    }
    // Non-blocking, so that a full backlog is refused at once instead of
    // waiting: a Windows client finds every instance busy the same way.
    const int err = connectTo(s, address);
    if (err != 0) {
        close(s);
        error = pipeError(err);
        return invalidPipe;
    }
    error = 0;
    return s;
}

PipeListener* pipeListen(const String& name, int instances, const SecurityDescriptor* descriptor,
                         PipeError& failure) {
    uint32_t& error = failure.code;
    if (!validName(name, error)) return nullptr;
    const int directory = openPipeDirectory(pipeDirectory(), error);
    if (directory < 0) return nullptr;
    sockaddr_un address;
    const int s = unixAddress(pipeSocketPath(directory, name), address, error) ? newSocket() : -1;
    auto fail = [&](uint32_t code) -> PipeListener* {
        if (s >= 0) close(s);
        close(directory);
        error = code;
        return nullptr;
    };
    if (s < 0) return fail(error ? error : pipeError(errno));
    String file = name;
    while (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EADDRINUSE) return fail(pipeError(errno));
        // A name in use: a live server keeps it; a socket left by one that
        // died is removed, so that a restart is not blocked for ever.
        struct stat st;
        if (fstatat(directory, file.cStr(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode))
            return fail(errorAccessDenied);
        const int probe = newSocket();
        const int err = probe < 0 ? errno : connectTo(probe, address);
        if (probe >= 0) close(probe);
        if (err != ECONNREFUSED) return fail(errorAccessDenied);
        if (unlinkat(directory, file.cStr(), 0) != 0 && errno != ENOENT) return fail(pipeError(errno));
    }
    struct stat st;
    if (fstatat(directory, file.cStr(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(pipeError(errno));
    const uint32_t protect = protectPipeSocket(directory, name, descriptor);
    if (protect != 0 || listen(s, instances < 1 ? 1 : instances) != 0) {
        const uint32_t code = protect != 0 ? protect : pipeError(errno);
        unlinkat(directory, file.cStr(), 0);
        return fail(code);
    }
    auto* listener = new PipeListener;
    listener->socket = s;
    listener->directory = directory;
    listener->device = st.st_dev;
    listener->inode = st.st_ino;
    listener->name = name;
    error = 0;
    return listener;
}

void pipeUnlisten(PipeListener* listener) {
    if (!listener) return;
    close(listener->socket);
    // Only the socket this listener bound: a later server may own the name now.
    String file = listener->name;
    struct stat st;
    if (fstatat(listener->directory, file.cStr(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_dev == listener->device && st.st_ino == listener->inode)
        unlinkat(listener->directory, file.cStr(), 0);
    close(listener->directory);
    delete listener;
}

PipeHandle pipeListenerHandle(const PipeListener& listener) { return listener.socket; }

PipeHandle pipeAccept(PipeListener& listener, uint32_t timeoutMs, PipeError& failure) {
    uint32_t& error = failure.code;
    for (;;) {
        const int s = accept4(listener.socket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (s >= 0) {
            error = 0;
            return s;
        }
        // A client that gave up before it was taken is no error.
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN) {
            error = pipeError(errno);
            failure.line = 440;
            return invalidPipe;
        }
        const int ready = waitFor(listener.socket, POLLIN, timeoutMs);
        if (ready <= 0) {
            error = ready < 0 ? pipeError(errno) : 0;
            return invalidPipe;
        }
    }
}

int32_t pipeRead(PipeHandle pipe, void* buffer, uint32_t count, uint32_t timeoutMs, PipeError& failure, bool wait) {
    uint32_t& error = failure.code;
    const uint32_t length = count > static_cast<uint32_t>(INT_MAX) ? INT_MAX : count;
    for (;;) {
        const ssize_t n = recv(fd(pipe), buffer, length, 0);
        if (n > 0) return static_cast<int32_t>(n);
        if (n == 0) {
            error = errorBrokenPipe;
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            error = errno == ECONNRESET ? errorBrokenPipe : pipeError(errno);
            return -1;
        }
        if (!wait) return 0;
        const int ready = waitFor(fd(pipe), POLLIN, timeoutMs);
        if (ready == 0) return 0;
        if (ready < 0) {
            error = pipeError(errno);
            return -1;
        }
    }
}

int32_t pipeWrite(PipeHandle pipe, const void* buffer, uint32_t count, uint32_t timeoutMs, PipeError& failure) {
    uint32_t& error = failure.code;
    const uint32_t length = count > static_cast<uint32_t>(INT_MAX) ? INT_MAX : count;
    for (;;) {
        const ssize_t n = send(fd(pipe), buffer, length, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            error = pipeError(errno);
            return -1;
        }
        const int ready = waitFor(fd(pipe), POLLOUT, timeoutMs);
        if (ready == 0) return 0;
        if (ready < 0) {
            error = pipeError(errno);
            return -1;
        }
    }
}

void pipeShutdown(PipeHandle pipe) { shutdown(fd(pipe), SHUT_RDWR); }

void pipeClose(PipeHandle pipe) { close(fd(pipe)); }

namespace {

bool clientCredentials(PipeHandle pipe, ucred& credentials, uint32_t& error) {
    socklen_t length = sizeof credentials;
    if (getsockopt(fd(pipe), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) return true;
    error = pipeError(errno);
    return false;
}

bool accountName(uid_t uid, String& name, String& domain, uint32_t& error) {
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        error = errorNoneMapped;
        return false;
    }
    utsname host;
    if (uname(&host) != 0) {
        error = pipeError(errno);
        return false;
    }
    const char* dot = std::strchr(host.nodename, '.');
    name = String(found->pw_name).clone();
    domain = String(host.nodename, dot ? static_cast<uint32_t>(dot - host.nodename)
                                       : static_cast<uint32_t>(std::strlen(host.nodename)))
                 .clone();
    return true;
}

}  // namespace

bool pipeClientUserName(PipeHandle pipe, String& user, PipeError& failure) {
    ucred credentials;
    if (!clientCredentials(pipe, credentials, failure.code)) return false;
    String name;
    String domain;
    if (!accountName(credentials.uid, name, domain, failure.code)) {
        failure.line = 272;
        return false;
    }
    user = name + "@" + domain;
    return true;
}

bool pipeClientElevation(PipeHandle pipe, int& type, PipeError& failure) {
    uint32_t& error = failure.code;
    ucred credentials;
    if (!clientCredentials(pipe, credentials, error)) return false;
    if (credentials.uid == 0) {
        type = 2;
        return true;
    }
    // The groups the client process held when it connected.
    std::vector<gid_t> groups(64);
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    while (getsockopt(fd(pipe), SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0) {
        if (errno != ERANGE) {
            error = pipeError(errno);
            return false;
        }
        groups.resize(length / sizeof(gid_t) + 1);
        length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    }
    groups.resize(length / sizeof(gid_t));
    groups.push_back(credentials.gid);
    type = 1;
    for (const char* administrators : {"sudo", "wheel", "admin"}) {
        std::vector<char> buffer(16384);
        group entry;
        group* found = nullptr;
        if (getgrnam_r(administrators, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) continue;
        for (const gid_t g : groups)
            if (g == found->gr_gid) type = 3;
    }
    return true;
}

}  // namespace trivane::sys
