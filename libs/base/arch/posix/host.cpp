// The process and the host on Linux: real names and numbers, never Windows ones.
#include "base/arch/host.h"

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/utsname.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace trivane::sys {

namespace {

String copyOf(const char* text) { return String(text); }

const passwd* ownEntry(passwd& entry, std::string& buffer) {
    buffer.resize(4096);
    passwd* result = nullptr;
    while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE) buffer.resize(buffer.size() * 2);
    return result;
}

bool fromEnvironment(const char* variable, String& value) {
    const char* text = std::getenv(variable);
    if (!text || !*text) return false;
    value = copyOf(text);
    return true;
}

}  // namespace

void ignoreBrokenPipe() noexcept { signal(SIGPIPE, SIG_IGN); }

// Linux has no debugger channel for text; the lines reach standard output.
void debugOutput(std::string_view) noexcept {}

namespace {
termios s_echoing;
}  // namespace

bool inputEchoOff() noexcept {
    termios silent;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &s_echoing) != 0) return false;
    silent = s_echoing;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    return tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) == 0;
}

void inputEchoOn() noexcept { tcsetattr(STDIN_FILENO, TCSAFLUSH, &s_echoing); }

String systemDirectory() { return "/usr/lib"_s; }
String windowsDirectory() { return "/"_s; }

String temporaryDirectory() {
    std::string path = "/tmp/";
    if (const char* dir = std::getenv("TMPDIR"); dir && *dir) {
        path = dir;
        if (path.back() != '/') path += '/';
    }
    return String(path.c_str());
}

bool osVersion(OsVersion& version) {
    utsname names;
    if (uname(&names) != 0) return false;
    version.name = copyOf(names.sysname);
    version.release = copyOf(names.release);
    char* end = nullptr;
    version.major = static_cast<uint32_t>(std::strtoul(names.release, &end, 10));
    version.minor = (end && *end == '.') ? static_cast<uint32_t>(std::strtoul(end + 1, nullptr, 10)) : 0;
    return true;
}

ProcessorInfo processorInfo() {
    ProcessorInfo info;
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const long pageSize = sysconf(_SC_PAGESIZE);
    info.processors = processors > 0 ? static_cast<uint32_t>(processors) : 0;
    info.pageSize = pageSize > 0 ? static_cast<uint32_t>(pageSize) : 0;
#if defined(__x86_64__)
    info.processorType = 8664;
#endif
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (uint32_t cpu = 0; cpu < 32; ++cpu)
            if (CPU_ISSET(cpu, &set)) info.activeMask |= 1u << cpu;
    }
    return info;
}

bool userName(String& name) {
    passwd entry;
    std::string buffer;
    const passwd* own = ownEntry(entry, buffer);
    if (!own || !own->pw_name) return false;
    name = copyOf(own->pw_name);
    return true;
}

bool currentDirectory(String& path) {
    std::string buffer(256, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return false;
        buffer.resize(buffer.size() * 2);
    }
    path = copyOf(buffer.c_str());
    return true;
}

bool profileDirectory(String& path) {
    if (fromEnvironment("HOME", path)) return true;
    passwd entry;
    std::string buffer;
    const passwd* own = ownEntry(entry, buffer);
    if (!own || !own->pw_dir || !*own->pw_dir) return false;
    path = copyOf(own->pw_dir);
    return true;
}

bool applicationDataDirectory(String& path) {
    if (fromEnvironment("XDG_CONFIG_HOME", path)) return true;
    String home;
    if (!fromEnvironment("HOME", home)) return false;
    path = home + "/.config";
    return true;
}

}  // namespace trivane::sys
