// errno values as Windows error codes.
#include "base/arch/posix/syserror.h"

#include <cerrno>

namespace trivane::sys {

uint32_t windowsErrorOf(int error) noexcept {
    switch (error) {
    case 0: return 0;
    case ENOENT: return 2;         // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;        // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE: return 4;         // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EISDIR: return 5;         // ERROR_ACCESS_DENIED
    case EBADF: return 6;          // ERROR_INVALID_HANDLE
    case ENOMEM: return 8;         // ERROR_NOT_ENOUGH_MEMORY
    case EROFS: return 19;         // ERROR_WRITE_PROTECT
    case EINVAL: return 87;        // ERROR_INVALID_PARAMETER
    case ENOSPC: return 112;       // ERROR_DISK_FULL
    case EEXIST: return 183;       // ERROR_ALREADY_EXISTS
    case ENOEXEC: return 193;      // ERROR_BAD_EXE_FORMAT
    case ENAMETOOLONG: return 206; // ERROR_FILENAME_EXCED_RANGE
    case EIO: return 1117;         // ERROR_IO_DEVICE
    case ELOOP: return 1921;       // ERROR_CANT_RESOLVE_FILENAME
    default: return 0x20000000u | static_cast<uint32_t>(error);
    }
}

}  // namespace trivane::sys
