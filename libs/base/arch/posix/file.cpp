// Files and directories on POSIX.
#include "base/arch/file.h"

#include "base/arch/posix/syserror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace trivane::sys {

namespace {

// Creating what exists is "already exists" (183) for files and directories.
uint32_t fileError(int error) noexcept {
    return error == EEXIST ? 183u : static_cast<uint32_t>(sys::windowsError(error));
}

int fd(FileHandle file) noexcept { return static_cast<int>(file); }

}  // namespace

String nativePath(const String& path) { return path.replace('\\', '/'); }

FileHandle fileOpen(const String& path, bool read, bool write, Disposition disposition, uint32_t& error) noexcept {
    if (!read && !write) {
        error = fileError(EINVAL);
        return invalidFile;
    }
    int flags = (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    flags |= O_CLOEXEC | O_NOFOLLOW;
    if (disposition == Disposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
    if (disposition == Disposition::OpenAlways) flags |= O_CREAT;
    String name = path;
    int result;
    do {
        result = ::open(name.cStr(), flags, 0600);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        error = fileError(errno);
        return invalidFile;
    }
    return result;
}

void fileClose(FileHandle file) noexcept { ::close(fd(file)); }

bool fileWrite(FileHandle file, const void* bytes, uint32_t count, uint32_t& error) noexcept {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(fd(file), next, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = fileError(errno);
            return false;
        }
        next += n;
        count -= static_cast<uint32_t>(n);
    }
    return true;
}

uint32_t fileRead(FileHandle file, void* buffer, uint32_t count) noexcept {
    char* next = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        const ssize_t n = ::read(fd(file), next + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<uint32_t>(n);
    }
    return total;
}

int64_t filePosition(FileHandle file) noexcept { return ::lseek(fd(file), 0, SEEK_CUR); }

int64_t fileSize(FileHandle file) noexcept {
    struct stat status;
    return ::fstat(fd(file), &status) == 0 ? status.st_size : -1;
}

bool fileSeek(FileHandle file, int64_t offset) noexcept { return ::lseek(fd(file), offset, SEEK_SET) >= 0; }

std::FILE* openLogStream(const String& path) noexcept {
    String name = path;
    int result;
    do {
        result = ::open(name.cStr(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return nullptr;
    std::FILE* stream = ::fdopen(result, "a");
    if (!stream) ::close(result);
    return stream;
}

bool makeDirectory(const String& path) noexcept {
    String name = path;
    return ::mkdir(name.cStr(), 0700) == 0;
}

bool isDirectory(const String& path) noexcept {
    String name = path;
    struct stat status;
    return ::stat(name.cStr(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool removeFile(const String& path) noexcept {
    String name = path;
    return ::unlink(name.cStr()) == 0;
}

}  // namespace trivane::sys
