// Stands in for OpenVPN: writes the command line it was given to
// <pid>.cmdline in $STANDIN_RECORDS (its own directory without it), then
// waits to be terminated.
#include <windows.h>

#include <cstdlib>
#include <string>

int main() {
    std::string dir;
    if (const char* records = std::getenv("STANDIN_RECORDS")) {
        dir = records;
    } else {
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        dir.assign(path, n);
        dir.erase(dir.find_last_of('\\') == std::string::npos ? 0 : dir.find_last_of('\\'));
    }
    const std::string name = dir + "\\" + std::to_string(GetCurrentProcessId()) + ".cmdline";
    const std::string partial = name + ".part";
    const std::string line = std::string(GetCommandLineA()) + "\n";
    // Written under another name first, so a reader never sees half of it.
    const HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileA(partial.c_str(), name.c_str())) return 2;
    // Bounded, so a test that failed to terminate it leaves nothing for long.
    Sleep(120000);
    return 0;
}
