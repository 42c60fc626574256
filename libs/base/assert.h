// Precondition checks that stay on in every build, and source file names for
// the records that throw sites and assertions make.
#pragma once

#include <cstdint>

namespace trivane::detail {

// Length of `path` without the extension of its last component, so that
// "libs/base/array.h" records the module name "array".
consteval uint32_t modulePathLength(const char* path) {
    uint32_t length = 0, dot = 0;
    for (; path[length] != 0; ++length) {
        if (path[length] == '.') dot = length;
        if (path[length] == '/' || path[length] == '\\') dot = 0;
    }
    return dot != 0 ? dot : length;
}

// Reports the violated expression on standard error and aborts: a broken
// precondition is a programming error, and going on would reach memory the
// caller does not own.
[[noreturn]] void assertionFailed(const char* expression, const char* file, unsigned line) noexcept;

}  // namespace trivane::detail

#define TRIVANE_MODULE_PATH __FILE__, ::trivane::detail::modulePathLength(__FILE__)

#define TRIVANE_ASSERT(expression)                                              \
    do {                                                                        \
        if (!(expression)) [[unlikely]]                                         \
            ::trivane::detail::assertionFailed(#expression, __FILE__, __LINE__); \
    } while (0)
