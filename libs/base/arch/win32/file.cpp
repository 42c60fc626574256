// Files and directories on Windows.
#include "base/arch/file.h"

#include "base/arch/win32/private.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace trivane::sys {

namespace {

HANDLE native(FileHandle file) noexcept { return reinterpret_cast<HANDLE>(file); }

}  // namespace

SECURITY_ATTRIBUTES* ownerOnlyAttributes() noexcept {
    static SECURITY_ATTRIBUTES s_attributes;
    static SECURITY_ATTRIBUTES* const s_built = []() -> SECURITY_ATTRIBUTES* {
        // Protected (no inherited entries), full access for the process's
        // own account only.
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size ? size : 1);
        const bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size) != 0;
        CloseHandle(token);
        char* sidText = nullptr;
        if (!known || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText))
            return nullptr;
        const std::string sddl = std::string("D:P(A;;FA;;;") + sidText + ")";
        LocalFree(sidText);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            return nullptr;
        s_attributes.nLength = sizeof s_attributes;
        s_attributes.lpSecurityDescriptor = descriptor;
        s_attributes.bInheritHandle = FALSE;
        return &s_attributes;
    }();
    return s_built;
}

String nativePath(const String& path) { return path.replace('/', '\\'); }

FileHandle fileOpen(const String& path, bool read, bool write, Disposition disposition, uint32_t& error) noexcept {
    if (!read && !write) {
        error = ERROR_INVALID_PARAMETER;
        return invalidFile;
    }
    const DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    const DWORD create = disposition == Disposition::CreateAlways ? CREATE_ALWAYS
                         : disposition == Disposition::OpenAlways ? OPEN_ALWAYS
                                                                  : OPEN_EXISTING;
    String name = path;
    HANDLE h = CreateFileA(name.cStr(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, ownerOnlyAttributes(), create,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return invalidFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

void fileClose(FileHandle file) noexcept { CloseHandle(native(file)); }

bool fileWrite(FileHandle file, const void* bytes, uint32_t count, uint32_t& error) noexcept {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(native(file), next, count, &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (written == 0) {
            error = ERROR_WRITE_FAULT;
            return false;
        }
        next += written;
        count -= written;
    }
    return true;
}

uint32_t fileRead(FileHandle file, void* buffer, uint32_t count) noexcept {
    char* next = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        DWORD n = 0;
        if (!ReadFile(native(file), next + total, count - total, &n, nullptr) || n == 0) break;
        total += n;
    }
    return total;
}

int64_t filePosition(FileHandle file) noexcept {
    LARGE_INTEGER zero{}, position{};
    if (!SetFilePointerEx(native(file), zero, &position, FILE_CURRENT)) return -1;
    return position.QuadPart;
}

int64_t fileSize(FileHandle file) noexcept {
    LARGE_INTEGER size{};
    return GetFileSizeEx(native(file), &size) ? size.QuadPart : -1;
}

bool fileSeek(FileHandle file, int64_t offset) noexcept {
    if (offset < 0) return false;
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    return SetFilePointerEx(native(file), to, nullptr, FILE_BEGIN) != 0;
}

std::FILE* openLogStream(const String& path) noexcept {
    String name = path;
    HANDLE h = CreateFileA(name.cStr(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, ownerOnlyAttributes(),
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "ab");
    if (!stream) _close(fd);
    return stream;
}

bool makeDirectory(const String& path) noexcept {
    String name = path;
    return CreateDirectoryA(name.cStr(), ownerOnlyAttributes()) != 0;
}

bool isDirectory(const String& path) noexcept {
    String name = path;
    const DWORD attributes = GetFileAttributesA(name.cStr());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool removeFile(const String& path) noexcept {
    String name = path;
    return DeleteFileA(name.cStr()) != 0;
}

}  // namespace trivane::sys
