// Reading one named member of a configuration into a string.
#pragma once

#include "base/serialize.h"
#include "base/string.h"

namespace trivane {

class ConfReadHelper {
public:
    // Reads the member `key` of `reader` into `destination` and returns true.
    // An absent member returns false and leaves `destination` alone, unless
    // it is mandatory: then EConfMissingKey. A member that cannot be read is
    // logged and, when mandatory, also EConfMissingKey; otherwise false.
    static bool readKey(IConfReader& reader, const char* key, String& destination, bool mandatory);
};

}  // namespace trivane
