// Assertion failures.
#include "base/assert.h"

#include <cstdio>
#include <cstdlib>

namespace trivane::detail {

void assertionFailed(const char* expression, const char* file, unsigned line) noexcept {
    std::fprintf(stderr, "assertion failed: %s (%s:%u)\n", expression, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace trivane::detail
