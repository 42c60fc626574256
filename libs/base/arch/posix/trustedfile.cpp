// Reading a file no other local user could have written, on POSIX.
#include "base/trustedfile.h"

#include "base/arch/posix/descriptor.h"
#include "base/arch/posix/syserror.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trivane {

namespace {

using sys::Descriptor;

bool trustedOwner(const struct stat& s) { return s.st_uid == 0 || s.st_uid == geteuid(); }

bool trustedDirectory(const struct stat& s) {
    if (!S_ISDIR(s.st_mode) || !trustedOwner(s)) return false;
    if ((s.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    return (s.st_mode & S_ISVTX) != 0 && s.st_uid == 0;
}

bool trustedFile(const struct stat& s) {
    return S_ISREG(s.st_mode) && trustedOwner(s) && (s.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

uint32_t lastError() { return static_cast<uint32_t>(sys::windowsError(errno)); }

// ELOOP from O_NOFOLLOW names a symbolic link: refused, not missing.
uint32_t openError() { return errno == ELOOP || errno == ENOTDIR ? 5 : lastError(); }

}  // namespace

uint32_t readTrustedFile(const String& path, Memory& content, uint32_t maxSize) {
    if (path.isEmpty() || path.find('\0') != String::npos) return 87;
    const bool absolute = path.charAt(0) == '/';
    Descriptor directory(::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return lastError();

    struct stat s;
    if (fstat(directory.get(), &s) != 0) return lastError();
    if (!trustedDirectory(s)) return 5;

    String rest = path;
    for (;;) {
        while (!rest.isEmpty() && rest.charAt(0) == '/') rest = rest.mid(1);
        const uint32_t slash = rest.find('/');
        if (slash == String::npos) break;
        String component = rest.mid(0, slash).clone();
        rest = rest.mid(slash + 1);
        if (component == "."_s) continue;
        if (component == ".."_s) return 5;
        const int next = ::openat(directory.get(), component.cStr(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return errno == ENOENT ? 3 : openError();
        directory.reset(next);
        if (fstat(directory.get(), &s) != 0) return lastError();
        if (!trustedDirectory(s)) return 5;
    }
    if (rest.isEmpty() || rest == "."_s || rest == ".."_s) return 5;

    String name = rest.clone();
    Descriptor file(::openat(directory.get(), name.cStr(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return openError();
    if (fstat(file.get(), &s) != 0) return lastError();
    if (!trustedFile(s)) return 5;
    if (s.st_size > static_cast<off_t>(maxSize)) return 8;

    Memory bytes;
    for (;;) {
        char buffer[8192];
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (bytes.length() + static_cast<uint64_t>(n) > maxSize) return 8;
        bytes.append(buffer, static_cast<uint32_t>(n));
    }
    content = bytes;
    return 0;
}

}  // namespace trivane
