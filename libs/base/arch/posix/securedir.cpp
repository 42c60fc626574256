// Checked directories and private files on POSIX.
#include "base/securedir.h"

#include "base/arch/posix/descriptor.h"
#include "base/arch/posix/syserror.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trivane {

namespace {

using sys::Descriptor;

constexpr uint32_t errorAccessDenied = 5;
constexpr uint32_t errorInvalidName = 123;

uint32_t lastError() { return static_cast<uint32_t>(sys::windowsError(errno)); }

bool isValidName(const String& name) {
    return !name.isEmpty() && !(name == "."_s) && !(name == ".."_s) && name.find('/') == String::npos &&
           name.find('\\') == String::npos && name.find('\0') == String::npos;
}

// A directory this process's user alone may change.
bool isPrivateDirectory(int fd) {
    struct stat s;
    return fstat(fd, &s) == 0 && S_ISDIR(s.st_mode) && s.st_uid == geteuid() && (s.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens (creating when missing) the directory `name` below `parent`.
int openChild(int parent, const String& name) {
    String component = name.clone();
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, component.cStr(), flags);
    if (fd < 0 && errno == ENOENT) {
        // Another process may make it first: its directory is then checked as any found one.
        if (::mkdirat(parent, component.cStr(), 0700) != 0 && errno != EEXIST) return -1;
        fd = ::openat(parent, component.cStr(), flags);
    }
    return fd;
}

// Writes every byte; the file is left open for the caller to close.
uint32_t writeAll(int fd, const String& content) {
    const char* p = content.data();
    uint32_t left = content.length();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (n == 0) return 29;  // ERROR_WRITE_FAULT
        p += n;
        left -= static_cast<uint32_t>(n);
    }
    return 0;
}

uint32_t writeAt(int directory, const String& name, const String& content, bool* opened) {
    if (opened) *opened = false;
    String file = name.clone();
    Descriptor fd(::openat(directory, file.cStr(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    // A link (ELOOP) or a fifo or device with no one behind it (ENXIO) is
    // not a file of ours.
    if (fd.get() < 0) return errno == ELOOP || errno == ENXIO ? errorAccessDenied : lastError();
    struct stat s;
    if (fstat(fd.get(), &s) != 0) return lastError();
    if (!S_ISREG(s.st_mode)) return errorAccessDenied;
    if (opened) *opened = true;
    // A file made earlier with other rights keeps them through O_CREAT.
    if ((s.st_mode & 07777) != 0600 && fchmod(fd.get(), 0600) != 0) return lastError();
    if (const uint32_t error = writeAll(fd.get(), content)) return error;
    if (::close(fd.release()) != 0) return lastError();
    return 0;
}

}  // namespace

char nativePathSeparator() noexcept { return '/'; }

uint32_t SecureDirectory::open(const String& base, const String& relative) {
    close();
    if (base.isEmpty() || base.find('\0') != String::npos) return errorInvalidName;
    String basePath = base.clone();
    Descriptor directory(::open(basePath.cStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return lastError();

    String path = base;
    if (path.charAt(path.length() - 1) != '/') path = path + "/";
    StringTokenizer components("/\\"_s, relative);
    while (components.hasMore()) {
        const String name = components.next();
        if (!isValidName(name)) return errorInvalidName;
        const int child = openChild(directory.get(), name);
        if (child < 0) return errno == ELOOP || errno == ENOTDIR ? errorAccessDenied : lastError();
        directory.reset(child);
        if (!isPrivateDirectory(directory.get())) return errorAccessDenied;
        path = path + name + "/";
    }
    m_handle = directory.release();
    m_path = path;
    return 0;
}

void SecureDirectory::close() noexcept {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
    m_handle = -1;
    m_path = String();
}

uint32_t SecureDirectory::writeFile(const String& name, const String& content, bool* opened) {
    if (opened) *opened = false;
    if (!isOpen()) return 6;
    if (!isValidName(name)) return errorInvalidName;
    return writeAt(static_cast<int>(m_handle), name, content, opened);
}

uint32_t SecureDirectory::removeFile(const String& name) {
    if (!isOpen()) return 6;
    if (!isValidName(name)) return errorInvalidName;
    String file = name.clone();
    if (::unlinkat(static_cast<int>(m_handle), file.cStr(), 0) != 0) return lastError();
    return 0;
}

uint32_t writePrivateFile(const String& path, const String& content, bool* opened) {
    if (opened) *opened = false;
    if (path.isEmpty() || path.find('\0') != String::npos) return errorInvalidName;
    const String native = path.replace('\\', '/');
    const uint32_t slash = native.rfind('/');
    const String name = slash == String::npos ? native : native.mid(slash + 1);
    String directoryPath = slash == String::npos ? "."_s : slash == 0 ? "/"_s : native.mid(0, slash).clone();
    if (!isValidName(name)) return errorInvalidName;
    Descriptor directory(::open(directoryPath.cStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return lastError();
    return writeAt(directory.get(), name, content, opened);
}

}  // namespace trivane
