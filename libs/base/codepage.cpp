// Checking UTF-8 text.
#include "base/codepage.h"

namespace trivane {

bool isValidUtf8(const String& text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const uint32_t n = text.length();
    for (uint32_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        uint32_t extra, code, minimum;
        if ((c & 0xE0) == 0xC0) extra = 1, code = c & 0x1F, minimum = 0x80;
        else if ((c & 0xF0) == 0xE0) extra = 2, code = c & 0x0F, minimum = 0x800;
        else if ((c & 0xF8) == 0xF0) extra = 3, code = c & 0x07, minimum = 0x10000;
        else return false;
        if (extra > n - i - 1) return false;
        for (uint32_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace trivane
