// The process and the host on Windows.
#include "base/arch/host.h"

#include <windows.h>
#include <lm.h>
#include <shlobj.h>

#include <memory>

namespace trivane::sys {

namespace {

// The directory queries' buffers hold 260 bytes; a result that does not fit
// leaves the buffer unwritten and counts as a failure.
String directory(UINT (WINAPI* query)(LPSTR, UINT)) {
    char buffer[MAX_PATH];
    const UINT n = query(buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return String();
    return String(buffer, n).clone();
}

String folder(int id) {
    char buffer[MAX_PATH];
    if (SHGetFolderPathA(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) return String();
    return String(buffer).clone();
}

const char* systemName(const OSVERSIONINFOEXA& v) {
    switch (v.dwPlatformId) {
        case VER_PLATFORM_WIN32s: return "Microsoft Win32";
        case VER_PLATFORM_WIN32_WINDOWS:
            return v.dwMajorVersion == 4 && v.dwMinorVersion != 0 ? "Microsoft Windows 98" : "Microsoft Windows 95";
        case VER_PLATFORM_WIN32_NT: break;
        default: return "UNKNOWN";
    }
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 2) return "Microsoft Windows 8";
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 1) return "Microsoft Windows 7";
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 0) return "Microsoft Windows Vista";
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2) return "Microsoft Windows XP x64";
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) return "Microsoft Windows XP";
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0) return "Microsoft Windows 2000";
    return "Microsoft Windows NT family";
}

}  // namespace

// Sockets and pipes report a closed peer as an error here: nothing to do.
void ignoreBrokenPipe() noexcept {}

namespace {
DWORD s_inputMode = 0;
}  // namespace

bool inputEchoOff() noexcept {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || !input || !GetConsoleMode(input, &s_inputMode)) return false;
    return SetConsoleMode(input, s_inputMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

void inputEchoOn() noexcept { SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), s_inputMode); }

void debugOutput(std::string_view line) noexcept {
    char small[512];
    std::unique_ptr<char[]> large;
    char* text = small;
    if (line.size() >= sizeof small) {
        large.reset(new (std::nothrow) char[line.size() + 1]);
        if (!large) return;
        text = large.get();
    }
    line.copy(text, line.size());
    text[line.size()] = 0;
    OutputDebugStringA(text);
}

String systemDirectory() { return directory(GetSystemDirectoryA); }
String windowsDirectory() { return directory(GetWindowsDirectoryA); }

String temporaryDirectory() {
    char buffer[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return String();
    return String(buffer, n).clone();
}

bool osVersion(OsVersion& version) {
    OSVERSIONINFOEXA record{};
    record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    bool known = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record)) != 0;
    if (!known) {
        record = OSVERSIONINFOEXA{};
        record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        known = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record)) != 0;
    }
    if (!known) return false;
    version.major = record.dwMajorVersion;
    version.minor = record.dwMinorVersion;
    // The workstation service tells the version the compatibility layer
    // would hide from the record.
    WKSTA_INFO_100* info = nullptr;
    if (NetWkstaGetInfo(nullptr, 100, reinterpret_cast<LPBYTE*>(&info)) == NERR_Success && info) {
        version.major = info->wki100_ver_major;
        version.minor = info->wki100_ver_minor;
        NetApiBufferFree(info);
    }
    version.name = String(systemName(record)).clone();
    version.release = "Service Pack "_s + String::fromUInt(record.wServicePackMajor) + "." +
                      String::fromUInt(record.wServicePackMinor);
    return true;
}

ProcessorInfo processorInfo() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    ProcessorInfo info;
    info.oemId = system.dwOemId;
    info.processors = system.dwNumberOfProcessors;
    info.pageSize = system.dwPageSize;
    info.processorType = system.dwProcessorType;
    info.activeMask = static_cast<uint32_t>(system.dwActiveProcessorMask);
    return info;
}

bool userName(String& name) {
    char buffer[257];
    DWORD size = sizeof buffer;
    if (!GetUserNameA(buffer, &size)) return false;
    name = String(buffer).clone();
    return true;
}

bool currentDirectory(String& path) {
    char buffer[MAX_PATH];
    const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return false;
    path = String(buffer, n).clone();
    return true;
}

bool profileDirectory(String& path) {
    String found = folder(CSIDL_PROFILE);
    if (found.isEmpty()) return false;
    path = found;
    return true;
}

bool applicationDataDirectory(String& path) {
    String found = folder(CSIDL_APPDATA);
    if (found.isEmpty()) return false;
    path = found;
    return true;
}

}  // namespace trivane::sys
