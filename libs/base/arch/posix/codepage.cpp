// The narrow code page on POSIX is UTF-8.
#include "base/codepage.h"

namespace trivane {

bool ansiToUtf8(const String& text, String& utf8) {
    if (!isValidUtf8(text)) return false;
    utf8 = text;
    return true;
}

}  // namespace trivane
