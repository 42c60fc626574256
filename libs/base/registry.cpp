// Registry keys read out of the text of a registry export.
#include "base/registry.h"

#include <cstring>

namespace trivane {

namespace {

constexpr uint32_t errorFileNotFound = 2;
constexpr uint32_t errorInvalidHandle = 6;
constexpr uint32_t errorInvalidData = 13;
constexpr uint32_t errorMoreData = 234;
constexpr uint32_t errorBadDatabase = 1009;

void appendUtf8(String& out, uint32_t code) {
    if (code < 0x80) {
        out.append(static_cast<char>(code));
    } else if (code < 0x800) {
        out.append(static_cast<char>(0xC0 | (code >> 6)));
        out.append(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.append(static_cast<char>(0xE0 | (code >> 12)));
        out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (code >> 18)));
        out.append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// The export as UTF-8 text: UTF-16LE with its byte-order mark (as the
// system's editor writes it) is converted, a UTF-8 mark dropped. A lone
// surrogate becomes U+FFFD.
String decodeExport(const Memory& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const uint32_t n = bytes.length();
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        String text;
        for (uint32_t i = 2; i + 1 < n; i += 2) {
            uint32_t unit = b[i] | (b[i + 1] << 8);
            if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < n) {
                const uint32_t low = b[i + 2] | (b[i + 3] << 8);
                if (low >= 0xDC00 && low < 0xE000) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;
            appendUtf8(text, unit);
        }
        return text;
    }
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return String(bytes.data() + 3, n - 3).clone();
    return String(bytes);
}

// Reads a quoted name or string starting at text[pos] == '"'; on success
// `pos` is just after the closing quote.
bool readQuoted(const String& text, uint32_t& pos, String& out) {
    String value;
    for (uint32_t i = pos + 1; i < text.length(); ++i) {
        const char c = text.charAt(i);
        if (c == '"') {
            pos = i + 1;
            out = value;
            return true;
        }
        if (c == '\\' && i + 1 < text.length() && (text.charAt(i + 1) == '\\' || text.charAt(i + 1) == '"')) ++i;
        value.append(text.charAt(i));
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "aa,bb,cc" as bytes; blanks around the pairs are allowed.
bool readHexBytes(const String& list, Memory& out) {
    StringSplitter pairs(list, ',');
    while (pairs.hasMore()) {
        const String pair = pairs.next().trim();
        if (pair.isEmpty() && !pairs.hasMore()) break;
        if (pair.length() != 2 || hexDigit(pair.charAt(0)) < 0 || hexDigit(pair.charAt(1)) < 0) return false;
        const char byte = static_cast<char>(hexDigit(pair.charAt(0)) * 16 + hexDigit(pair.charAt(1)));
        out.append(&byte, 1);
    }
    return true;
}

// The data written after "=": a string, "dword:" and eight hex digits, or
// "hex:" / "hex(type):" and a byte list. False for anything else.
bool readData(const String& text, Memory& out) {
    if (text.length() > 0 && text.charAt(0) == '"') {
        uint32_t pos = 0;
        String value;
        if (!readQuoted(text, pos, value)) return false;
        out = Memory(value);
        out.append("", 1);
        return true;
    }
    const String lower = text.toLower();
    if (lower.mid(0, 6) == "dword:"_s) {
        const String digits = text.mid(6).trim();
        if (digits.length() != 8) return false;
        uint32_t value = 0;
        for (uint32_t i = 0; i < 8; ++i) {
            const int d = hexDigit(digits.charAt(i));
            if (d < 0) return false;
            value = value * 16 + static_cast<uint32_t>(d);
        }
        const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                               static_cast<char>(value >> 24)};
        out = Memory(bytes, 4);
        return true;
    }
    if (lower.mid(0, 3) == "hex"_s) {
        const uint32_t colon = text.find(':');
        if (colon == String::npos) return false;
        out = Memory();
        return readHexBytes(text.mid(colon + 1), out);
    }
    return false;
}

}  // namespace

void RegistryKey::close() {
    m_open = false;
    m_names = Strings();
    m_data = Array<Memory>();
}

uint32_t RegistryKey::load(const Memory& exportText, const String& keyPath) {
    close();
    const String text = decodeExport(exportText);
    const String wanted = keyPath.toLower();
    bool sawHeader = false, found = false, inKey = false;
    Strings names;
    Array<Memory> data;

    StringSplitter lines(text, '\n');
    while (lines.hasMore()) {
        String line = lines.next();
        // Byte lists run on over lines that end with a backslash.
        for (;;) {
            const String head = line.trim();
            if (head.isEmpty() || head.charAt(head.length() - 1) != '\\' || !lines.hasMore()) break;
            if (head.findIgnoreCase("=hex", 4) == String::npos) break;
            line = head.mid(0, head.length() - 1) + lines.next().trim();
        }
        line = line.trim();
        if (line.isEmpty() || line.charAt(0) == ';') continue;
        if (!sawHeader) {
            if (!(line == "Windows Registry Editor Version 5.00"_s) && !(line == "REGEDIT4"_s)) return errorBadDatabase;
            sawHeader = true;
            continue;
        }
        if (line.charAt(0) == '[') {
            const String key = line.mid(1, line.rfind(']') == String::npos ? line.length() - 1 : line.rfind(']') - 1);
            const String lowerKey = key.toLower();
            inKey = lowerKey == wanted;
            // A subkey's section means its parent exists too, as in the live registry.
            if (inKey || (lowerKey.length() > wanted.length() && lowerKey.mid(0, wanted.length()) == wanted &&
                          lowerKey.charAt(wanted.length()) == '\\'))
                found = true;
            continue;
        }
        if (!inKey) continue;
        String name;
        uint32_t pos = 0;
        if (line.charAt(0) == '@') {
            pos = 1;
        } else if (line.charAt(0) != '"' || !readQuoted(line, pos, name)) {
            continue;
        }
        if (pos >= line.length() || line.charAt(pos) != '=') continue;
        const String lowerName = name.toLower();
        const String value = line.mid(pos + 1).trim();
        for (uint32_t i = 0; i < names.count(); ++i) {
            if (names[i] == lowerName) {
                names.removeAt(i);
                data.removeAt(i);
                break;
            }
        }
        Memory bytes;
        if (value == "-"_s || !readData(value, bytes)) continue;
        names.append(lowerName);
        data.append(bytes);
    }
    if (!sawHeader) return errorBadDatabase;
    if (!found) return errorFileNotFound;
    m_names = names;
    m_data = data;
    m_open = true;
    return 0;
}

uint32_t RegistryKey::queryValue(const String& name, void* buffer, uint32_t& size) const {
    if (!m_open) return errorInvalidHandle;
    const String lowerName = name.toLower();
    for (uint32_t i = 0; i < m_names.count(); ++i) {
        if (!(m_names[i] == lowerName)) continue;
        const Memory& value = m_data[i];
        if (buffer == nullptr) {
            size = value.length();
            return 0;
        }
        if (size < value.length()) {
            size = value.length();
            return errorMoreData;
        }
        if (value.length() > 0) std::memcpy(buffer, value.data(), value.length());
        size = value.length();
        return 0;
    }
    return errorFileNotFound;
}

uint32_t RegistryKey::queryString(const String& name, String& value) const {
    uint32_t size = 0;
    if (const uint32_t error = queryValue(name, nullptr, size)) return error;
    if (size == 0) return errorInvalidData;
    Memory data;
    data.fill(size, 0);
    if (const uint32_t error = queryValue(name, data.writableData(), size)) return error;
    value = String(data.data(), size - 1).clone();
    return 0;
}

String RegistryKey::rootName(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::LocalMachine: break;
    }
    return "HKEY_LOCAL_MACHINE"_s;
}

}  // namespace trivane
