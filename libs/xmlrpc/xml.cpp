// Escaping, base64, the scanning helpers and the reading pass.
#include "xmlrpc/xml.h"

#include <array>
#include <cstdio>
#include <vector>

namespace trivane::xmlrpc {

namespace {

constexpr uint32_t npos = String::npos;

// The C white-space set: space, TAB, LF, VT, FF, CR.
inline bool isSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

uint32_t literalLength(const char* literal) { return static_cast<uint32_t>(std::strlen(literal)); }

// Entity text after "&" for each escaped byte, or null.
const char* entityOf(unsigned char c) noexcept {
    switch (c) {
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '&': return "&amp;";
        case '\'': return "&apos;";
        case '"': return "&quot;";
        default: return nullptr;
    }
}

constexpr auto s_escaped = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {'<', '>', '&', '\'', '"'}) table[c] = true;
    return table;
}();

uint32_t firstEscaped(const String& text, uint32_t from) noexcept {
    const char* data = text.data();
    for (uint32_t i = from, n = text.length(); i < n; ++i)
        if (s_escaped[static_cast<unsigned char>(data[i])]) return i;
    return npos;
}

constexpr char s_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr auto s_sextets = [] {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(s_alphabet[i])] = static_cast<uint8_t>(i);
    return table;
}();

}  // namespace

String xmlEscape(const String& text) {
    uint32_t hit = firstEscaped(text, 0);
    if (hit == npos) return text;
    XmlWriter out;
    out.putEscaped(text);
    return out.text();
}

void XmlWriter::putEscaped(const String& text) {
    const char* data = text.data();
    uint32_t from = 0;
    for (uint32_t hit = firstEscaped(text, 0); hit != npos; hit = firstEscaped(text, from)) {
        put(data + from, hit - from);
        const char* entity = entityOf(static_cast<unsigned char>(data[hit]));
        put(entity, literalLength(entity));
        from = hit + 1;
    }
    put(data + from, text.length() - from);
}

String xmlUnescape(const String& text) {
    uint32_t amp = text.find('&');
    if (amp == npos) return text;
    static const struct {
        const char* name;
        uint32_t length;
        char c;
    } entities[] = {{"lt;", 3, '<'}, {"gt;", 3, '>'}, {"amp;", 4, '&'}, {"apos;", 5, '\''}, {"quot;", 5, '"'}};
    const char* data = text.data();
    const uint32_t n = text.length();
    String out;
    char* o = out.reserve(n);
    uint32_t written = 0, from = 0;
    for (; amp != npos; amp = text.find('&', from)) {
        std::memcpy(o + written, data + from, amp - from);
        written += amp - from;
        from = amp + 1;
        char c = '&';
        for (const auto& e : entities) {
            if (n - from >= e.length && std::memcmp(data + from, e.name, e.length) == 0) {
                c = e.c;
                from += e.length;
                break;
            }
        }
        o[written++] = c;
    }
    std::memcpy(o + written, data + from, n - from);
    written += n - from;
    out.setLength(written);
    return out;
}

String base64Encode(const char* bytes, uint32_t length) {
    if (length == 0) return String();
    const uint32_t outLength = checkedSize((uint64_t(length) + 2) / 3 * 4);
    String out;
    char* o = out.reserve(outLength);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    uint32_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t group = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        *o++ = s_alphabet[group >> 18];
        *o++ = s_alphabet[(group >> 12) & 63];
        *o++ = s_alphabet[(group >> 6) & 63];
        *o++ = s_alphabet[group & 63];
    }
    if (i < length) {
        const bool two = i + 1 < length;
        const uint32_t group = uint32_t(in[i]) << 16 | (two ? uint32_t(in[i + 1]) << 8 : 0);
        *o++ = s_alphabet[group >> 18];
        *o++ = s_alphabet[(group >> 12) & 63];
        *o++ = two ? s_alphabet[(group >> 6) & 63] : '=';
        *o++ = '=';
    }
    out.setLength(outLength);
    return out;
}

Memory base64Decode(const String& text) {
    Memory out;
    if (text.isEmpty()) return out;
    const char* data = text.data();
    const uint32_t n = text.length();
    char* o = out.reserve(n / 4 * 3 + 3);
    uint32_t written = 0, i = 0;
    auto next = [&](char& c) {
        while (i < n && (data[i] == ' ' || data[i] == '\t' || data[i] == '\n' || data[i] == '\r')) ++i;
        if (i == n) return false;
        c = data[i++];
        return true;
    };
    auto bits = [](char c) { return uint32_t(s_sextets[static_cast<unsigned char>(c)]); };
    char c0, c1, c2, c3;
    while (next(c0) && next(c1)) {
        const uint32_t high = bits(c0) << 18 | bits(c1) << 12;
        o[written++] = static_cast<char>(high >> 16);
        if (!next(c2) || c2 == '=') break;
        const uint32_t middle = high | bits(c2) << 6;
        o[written++] = static_cast<char>((middle >> 8) & 0xFF);
        if (!next(c3) || c3 == '=') break;
        o[written++] = static_cast<char>((middle | bits(c3)) & 0xFF);
    }
    out.setLength(written);
    return out;
}

bool skipPrefix(const char* literal, const String& text, uint32_t& pos) {
    uint32_t p = pos;
    const char* data = text.data();
    const uint32_t n = text.length();
    while (p < n && isSpace(data[p])) ++p;
    const uint32_t length = literalLength(literal);
    if (p > n || n - p < length || std::memcmp(data + p, literal, length) != 0) return false;
    pos = p + length;
    return true;
}

bool skipPast(const char* literal, const String& text, uint32_t& pos) {
    if (pos >= text.length()) return false;
    const uint32_t length = literalLength(literal);
    const uint32_t hit = text.find(literal, length, pos);
    if (hit == npos) return false;
    pos = hit + length;
    return true;
}

String nextTag(const String& text, uint32_t& pos) {
    uint32_t p = pos;
    const uint32_t n = text.length();
    while (p < n && isSpace(text.data()[p])) ++p;
    if (p >= n || text.data()[p] != '<') return String();
    const uint32_t close = text.find('>', p + 1);
    if (close == npos) return String();
    pos = close + 1;
    return text.mid(p, close + 1 - p);
}

String textBetween(const char* startTag, const String& text, uint32_t& pos) {
    const uint32_t startLength = literalLength(startTag);
    const uint32_t start = text.find(startTag, startLength, pos);
    if (start == npos || startLength == 0) return String();
    String endTag = "</"_s + String(startTag + 1, startLength - 1);
    const uint32_t from = start + startLength;
    const uint32_t end = text.find(endTag.data(), endTag.length(), from);
    if (end == npos) return String();
    pos = end + endTag.length();
    return text.mid(from, end - from);
}

String responseXml(const Value& result) {
    XmlWriter out;
    out.put("<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t");
    result.writeXml(out);
    out.put("\r\n</param></params></methodResponse>\r\n");
    return out.text();
}

String faultResponseXml(const Value& fault) {
    XmlWriter out;
    out.put("<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t");
    fault.writeXml(out);
    out.put("\r\n</fault></methodResponse>\r\n");
    return out.text();
}

void XmlWriter::makeRoom(uint32_t length) {
    const uint32_t room = checkedSize(uint64_t(length) + m_text.length() + 64);
    m_text.reserve(room);
    m_room = room;
}

void XmlWriter::putInt(int32_t value) {
    char buffer[12];
    char* p = buffer + sizeof buffer;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    put(p, static_cast<uint32_t>(buffer + sizeof buffer - p));
}

void XmlWriter::putDouble(double value) {
    // "%f" has no exponent: the largest doubles need over 300 digits.
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%f", value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buffer) {
        put(buffer, static_cast<uint32_t>(n));
        return;
    }
    std::vector<char> large(static_cast<size_t>(n) + 1);
    std::snprintf(large.data(), large.size(), "%f", value);
    put(large.data(), static_cast<uint32_t>(n));
}

XmlReader::XmlReader(const String& text) noexcept : m_text(text) {}

uint32_t XmlReader::skipSpace(uint32_t from) {
    if (m_spaceFrom != npos && from >= m_spaceFrom && from <= m_spaceEnd) return m_spaceEnd;
    const char* data = m_text.data();
    const uint32_t n = m_text.length();
    uint32_t p = from;
    while (p < n && isSpace(data[p])) ++p;
    if (p - from > 16) {
        m_spaceFrom = from;
        m_spaceEnd = p;
    }
    return p;
}

bool XmlReader::skipPrefix(const char* literal, uint32_t length, uint32_t& pos) {
    const uint32_t p = skipSpace(pos);
    const uint32_t n = m_text.length();
    if (p > n || n - p < length || std::memcmp(m_text.data() + p, literal, length) != 0) return false;
    pos = p + length;
    return true;
}

uint32_t XmlReader::find(Search& s, uint32_t from) {
    if (s.from != npos && from >= s.from && from <= s.hit) return s.hit;
    uint32_t hit;
    if (s.from != npos && from < s.from) {
        // Only the stretch before the one already searched is new.
        const uint64_t end = uint64_t(s.from) + s.length - 1;
        hit = m_text.find(s.literal, s.length, from, end >= npos ? npos - 1 : static_cast<uint32_t>(end));
        if (hit == npos) hit = s.hit;
    } else {
        hit = m_text.find(s.literal, s.length, from);
    }
    s.from = from;
    s.hit = hit;
    return hit;
}

bool XmlReader::skipPastValueEnd(uint32_t& pos) {
    if (pos >= m_text.length()) return false;
    const uint32_t hit = find(m_valueEnd, pos);
    if (hit == npos) return false;
    pos = hit + m_valueEnd.length;
    return true;
}

uint32_t XmlReader::nextTag(uint32_t& pos, uint32_t& start) {
    const uint32_t p = skipSpace(pos);
    if (p >= m_text.length() || m_text.data()[p] != '<') return 0;
    const uint32_t close = find(m_close, p + 1);
    if (close == npos) return 0;
    start = p;
    pos = close + 1;
    return close + 1 - p;
}

bool XmlReader::nameBetween(uint32_t& pos, String& name) {
    const uint32_t start = find(m_name, pos);
    if (start == npos) return false;
    const uint32_t from = start + m_name.length;
    const uint32_t end = find(m_nameEnd, from);
    if (end == npos) return false;
    name = m_text.mid(from, end - from);
    pos = end + m_nameEnd.length;
    return true;
}

}  // namespace trivane::xmlrpc
