// Unescaping arbitrary bytes, and escaping then unescaping them back.
#include "xmlrpc/xml.h"

#include <cstdint>
#include <cstdlib>

using namespace trivane;
using namespace trivane::xmlrpc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    String text;
    text.append(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
    const String plain = xmlUnescape(text);
    if (plain.length() > text.length()) std::abort();
    if (!(xmlUnescape(xmlEscape(text)) == text)) std::abort();
    return 0;
}
