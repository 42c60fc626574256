// A short pattern and a short subject: the matcher agrees with the plain
// recursive rules on the result and on every group. Lengths stay small
// because backtracking is exponential in the worst case.
#include "regex/matcher.h"
#include "regex/pattern.h"
#include "reference_matcher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace trivane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int flags = data[0] & 31;
    const size_t patternLength = data[1] % 33;
    if (size < 2 + patternLength || size - 2 - patternLength > 8) return 0;
    const String text(reinterpret_cast<const char*>(data + 2), uint32_t(patternLength));
    const std::string subject(reinterpret_cast<const char*>(data + 2 + patternLength), size - 2 - patternLength);
    gc::Pointer<regex::Pattern> pattern = regex::Pattern::compile(text, flags);
    if (!pattern) return 0;
    String subjectText;
    subjectText.append(subject.data(), uint32_t(subject.size()));
    for (bool whole : {true, false}) {
        gc::Pointer<regex::Matcher> matcher = pattern->createMatcher(subjectText);
        regex::model::ReferenceMatcher reference(*pattern, subject);
        const bool result = whole ? matcher->matches() : matcher->search();
        if (result != (whole ? reference.matches() : reference.search())) std::abort();
        for (int g = 0; g < pattern->groupCount(); ++g)
            if (matcher->start(g) != reference.start(g) || matcher->end(g) != reference.end(g)) std::abort();
    }
    return 0;
}
