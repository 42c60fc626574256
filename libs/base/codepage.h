// Text in the system's narrow ("ANSI") code page converted to UTF-8.
#pragma once

#include "base/string.h"

namespace trivane {

// Converts `text` from the system's narrow code page to UTF-8. Returns false,
// leaving `utf8` alone, when `text` is not valid in that code page. (The
// narrow code page of POSIX systems is UTF-8 itself: the text is checked and
// kept as it is.)
bool ansiToUtf8(const String& text, String& utf8);

// Whether `text` is well-formed UTF-8: no stray continuation byte, no
// truncated, overlong or surrogate sequence, nothing above U+10FFFF.
bool isValidUtf8(const String& text) noexcept;

}  // namespace trivane
