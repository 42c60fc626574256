// Reads arbitrary bytes as a value element; whatever reads must write and
// read again, and the position never leaves the text.
#include "xmlrpc/objectvalue.h"
#include "xmlrpc/xml.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace trivane;
using namespace trivane::xmlrpc;

// Every log line also goes to standard output: keep the fuzzer's quiet.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    String text;
    text.append(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
    uint32_t pos = 0;
    Value v;
    if (!v.fromXml(text, pos)) {
        if (pos != 0 || v.isValid()) std::abort();
        return 0;
    }
    if (pos > text.length()) std::abort();
    const String written = v.toXml();
    responseXml(v);
    v.toParamsXml();
    (void)v.isEmpty();
    uint32_t again = 0;
    Value copy;
    if (v.type() != TypeDateTime && v.type() != TypeArray && v.type() != TypeStruct) {
        if (!copy.fromXml(written, again) || again != written.length()) std::abort();
    }
    return 0;
}
