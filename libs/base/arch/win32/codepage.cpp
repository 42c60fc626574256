// The system's narrow code page to UTF-8, through UTF-16.
#include "base/codepage.h"

#include <windows.h>

#include <vector>

namespace trivane {

bool ansiToUtf8(const String& text, String& utf8) {
    if (text.length() == 0) {
        utf8 = String();
        return true;
    }
    const char* bytes = text.data();
    const int length = static_cast<int>(text.length());
    const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> utf16(static_cast<size_t>(wide));
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, utf16.data(), wide) != wide) return false;
    const int narrow = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return false;
    std::vector<char> out(static_cast<size_t>(narrow));
    if (WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, out.data(), narrow, nullptr, nullptr) != narrow)
        return false;
    utf8 = String(out.data(), static_cast<uint32_t>(narrow)).clone();
    return true;
}

}  // namespace trivane
