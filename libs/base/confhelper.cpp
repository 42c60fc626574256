// Reading one named member of a configuration into a string.
#include "base/confhelper.h"

#include "base/console.h"
#include "base/exception.h"

namespace trivane {

bool ConfReadHelper::readKey(IConfReader& reader, const char* key, String& destination, bool mandatory) {
    const String name(key);
    try {
        if (reader.hasMember(name)) {
            destination = reader.member(name).readString();
            return true;
        }
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        log(LogError, "ConfReadHelper", "readKey", "Error while reading key: \""_s + name + "\"");
        if (mandatory) TRIVANE_THROW(EConfMissingKey);
        return false;
    }
    if (!mandatory) return false;
    log(LogError, "ConfReadHelper", "readKey", "Missing tag: <"_s + name + ">");
    TRIVANE_THROW(EConfMissingKey);
}

}  // namespace trivane
