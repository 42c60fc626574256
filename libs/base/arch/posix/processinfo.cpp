// The process's command line and executable path, read from /proc.
#include "base/commandline.h"

#include <fcntl.h>
#include <unistd.h>

namespace trivane {

String processCommandLine() {
    String raw;
    const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return String();
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        raw.append(buffer, static_cast<uint32_t>(n));
    }
    close(fd);

    // NUL-separated arguments, each with its terminating NUL.
    String line;
    uint32_t begin = 0;
    while (begin < raw.length()) {
        uint32_t end = raw.find('\0', begin);
        if (end == String::npos) end = raw.length();
        if (!line.isEmpty()) line.append(' ');
        line.append(quoteArgument(raw.mid(begin, end - begin)));
        begin = end + 1;
    }
    return line;
}

String executablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer)) return String();
    return String(buffer, static_cast<uint32_t>(n)).clone();
}

}  // namespace trivane
