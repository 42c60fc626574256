// The registry on POSIX: an export file, read afresh at every key open.
#include "base/registry.h"

#include "base/trustedfile.h"

#include <cstdlib>

namespace trivane {

namespace {

constexpr uint32_t maxExportSize = 1u << 20;

String exportPath() {
    const char* path = std::getenv("TRIVANE_REGISTRY");
    return path && *path ? String(path) : "/etc/trivane/registry.reg"_s;
}

}  // namespace

uint32_t RegistryKey::open(RegistryRoot root, const String& subKey) {
    close();
    Memory text;
    // What the file names is run as root: one that another user could have
    // written is as good as no registry at all.
    const uint32_t error = readTrustedFile(exportPath(), text, maxExportSize);
    if (error == 3) return 2;
    if (error != 0) return error;
    return load(text, rootName(root) + "\\" + subKey);
}

}  // namespace trivane
