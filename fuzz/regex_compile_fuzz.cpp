// Pattern texts of any bytes: compiling never crashes, and a pattern that
// compiles can match. Only short patterns are run, on a short subject:
// backtracking time grows exponentially with nested repetitions.
#include "regex/matcher.h"
#include "regex/pattern.h"

#include <cstddef>
#include <cstdint>

using namespace trivane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const int flags = data[0] & 31;
    const String text(reinterpret_cast<const char*>(data + 1), uint32_t(size - 1));
    gc::Pointer<regex::Pattern> pattern = regex::Pattern::compile(text, flags);
    if (pattern && size <= 65) pattern->createMatcher("aB1\n"_s)->search();
    return 0;
}
