// Reading a file whose contents decide what the process runs, on Windows.
#include "base/trustedfile.h"

#include "base/arch/win32/private.h"

#include <windows.h>

#include <string>
#include <vector>

namespace trivane {

namespace {

HANDLE openForCheck(const std::string& path, bool directory) {
    return CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | (directory ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr);
}

}  // namespace

uint32_t readTrustedFile(const String& path, Memory& content, uint32_t maxSize) {
    std::string native(path.data(), path.length());
    if (native.empty() || native.find('\0') != std::string::npos) return ERROR_INVALID_NAME;
    for (char& c : native)
        if (c == '/') c = '\\';
    // Every directory from the root down is held open (no deletion shared)
    // while the next is checked, so none is replaced behind the check.
    std::vector<HANDLE> held;
    auto release = [&] {
        for (HANDLE h : held) CloseHandle(h);
    };
    for (size_t slash = native.find('\\', native.find(':') == 1 ? 3 : 1); slash != std::string::npos;
         slash = native.find('\\', slash + 1)) {
        HANDLE directory = openForCheck(native.substr(0, slash), true);
        if (directory == INVALID_HANDLE_VALUE) {
            const uint32_t error = GetLastError();
            release();
            return error;
        }
        held.push_back(directory);
        if (!sys::onlyTrustedMayChange(directory, true)) {
            release();
            return ERROR_ACCESS_DENIED;
        }
    }
    HANDLE file = openForCheck(native, false);
    if (file == INVALID_HANDLE_VALUE) {
        const uint32_t error = GetLastError();
        release();
        return error;
    }
    uint32_t error = 0;
    LARGE_INTEGER size{};
    if (!sys::onlyTrustedMayChange(file, false)) error = ERROR_ACCESS_DENIED;
    else if (!GetFileSizeEx(file, &size)) error = GetLastError();
    else if (size.QuadPart > maxSize) error = ERROR_NOT_ENOUGH_MEMORY;
    Memory data;
    if (error == 0 && size.QuadPart > 0) {
        std::vector<char> buffer(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) error = GetLastError();
        else data = Memory(buffer.data(), read);
    }
    CloseHandle(file);
    release();
    if (error == 0) content = data;
    return error;
}

}  // namespace trivane
