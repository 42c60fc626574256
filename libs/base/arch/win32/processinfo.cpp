// The process's command line and executable path, as the system keeps them.
#include "base/commandline.h"

#include <windows.h>

#include <vector>

namespace trivane {

String processCommandLine() { return String(GetCommandLineA()).clone(); }

String executablePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return String();
        // A cut-off path fills the buffer exactly.
        if (n < buffer.size()) return String(buffer.data(), n).clone();
        if (buffer.size() >= 32768) return String();
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace trivane
