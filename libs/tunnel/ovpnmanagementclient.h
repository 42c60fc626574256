// The OpenVPN management-interface client: for now its file writer.
#pragma once

#include "base/securedir.h"
#include "base/string.h"

namespace trivane::tunnel {

class OvpnManagementClient {
public:
    // Creates or truncates the file at `path` (0600, no link followed) and
    // writes every byte of `content`. Never throws; a file that cannot be
    // opened or written completely is logged and gives false.
    static bool writeConfFile(const String& path, const String& content);
    // The same for the file `name` of an open checked directory.
    static bool writeConfFile(SecureDirectory& directory, const String& name, const String& content);
};

}  // namespace trivane::tunnel
