// Texts the tests compare: a String as std::string, and the text of the
// exception an action throws.
#pragma once

#include "base/exception.h"
#include "base/string.h"

#include <string>

namespace trivane::test {

inline std::string str(const String& s) { return std::string(s.data(), s.length()); }

// The exception's text, or "" when none was thrown.
template <class Action>
std::string thrown(Action action) {
    try {
        action();
    } catch (const Exception& e) {
        return str(e.text());
    }
    return "";
}

}  // namespace trivane::test
