// Reads arbitrary bytes as a fault; a struct lacking the fault members may
// throw the container's exceptions, nothing else may escape.
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
    try {
        if (v.faultFromXml(text, pos)) {
            if (!v.isFault() || pos > text.length()) std::abort();
            faultResponseXml(v);
            v.asString();
        } else if (pos != 0) {
            std::abort();
        }
    } catch (const EBadItem&) {
    } catch (const EBadType&) {
    }
    return 0;
}
