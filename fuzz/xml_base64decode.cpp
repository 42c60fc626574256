// Decoding arbitrary text as base64; what decodes encodes and decodes back.
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
    const Memory bytes = base64Decode(text);
    if (bytes.length() > text.length()) std::abort();
    const String encoded = base64Encode(bytes.data(), bytes.length());
    if (!(base64Decode(encoded) == bytes)) std::abort();
    return 0;
}
