// The OpenVPN management-interface client: writing its configuration files.
#include "tunnel/ovpnmanagementclient.h"

#include "base/console.h"
#include "base/exception.h"

namespace trivane::tunnel {

namespace {

bool report(uint32_t error, bool opened, const String& path) {
    if (error == 0) return true;
    if (!opened)
        log(LogError, "OvpnManagementClient", "writeConfFile", "Error opening file"_s + path);
    else
        log(LogError, "OvpnManagementClient", "writeConfFile",
            "Error writing file"_s + path + " (" + String::fromUInt(error) + ")");
    return false;
}

}  // namespace

bool OvpnManagementClient::writeConfFile(const String& path, const String& content) {
    try {
        bool opened = false;
        const uint32_t error = writePrivateFile(path, content, &opened);
        return report(error, opened, path);
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        return false;
    }
}

bool OvpnManagementClient::writeConfFile(SecureDirectory& directory, const String& name, const String& content) {
    try {
        bool opened = false;
        const uint32_t error = directory.writeFile(name, content, &opened);
        return report(error, opened, directory.path() + name);
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        return false;
    }
}

}  // namespace trivane::tunnel
