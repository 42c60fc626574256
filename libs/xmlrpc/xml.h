// The XML text of values: escaping, base64, the scanning helpers that read a
// document in place, and the response envelopes.
#pragma once

#include "base/dict.h"
#include "base/memory.h"
#include "base/string.h"
#include "xmlrpc/value.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace trivane::xmlrpc {

// Replaces < > & ' " by their entities; a text without them is shared.
String xmlEscape(const String& text);
// Replaces the five entities by their characters and leaves every other
// "&" as written; a text without "&" is shared.
String xmlUnescape(const String& text);

String base64Encode(const char* bytes, uint32_t length);
// Skips TAB, LF, CR and space; input without padding decodes too. Bytes
// outside the alphabet count as zero bits.
Memory base64Decode(const String& text);

// Skips white space, then moves past `literal` when the text starts with it
// there; otherwise false and `pos` unchanged.
bool skipPrefix(const char* literal, const String& text, uint32_t& pos);
// Moves just past the next occurrence of `literal`; otherwise false.
bool skipPast(const char* literal, const String& text, uint32_t& pos);
// After white space, the tag from "<" to the next ">" inclusive; otherwise
// empty and `pos` unchanged.
String nextTag(const String& text, uint32_t& pos);
// The bytes between `startTag` and its end tag; otherwise empty and `pos`
// unchanged.
String textBetween(const char* startTag, const String& text, uint32_t& pos);

// A method response around the result (an invalid result gives an empty
// parameter), and one around a fault value.
String responseXml(const Value& result);
String faultResponseXml(const Value& fault);

// Appends to one growing text; the room doubles, so writing is linear.
class XmlWriter {
public:
    void put(const char* bytes, uint32_t length) {
        if (length == 0) return;
        if (length > m_room) makeRoom(length);
        std::memcpy(m_text.reserve(length), bytes, length);
        m_text.setLength(m_text.length() + length);
        m_room -= length;
    }
    template <uint32_t N>
    void put(const char (&literal)[N]) {
        put(literal, N - 1);
    }
    void put(const String& text) { put(text.data(), text.length()); }
    void putEscaped(const String& text);
    void putInt(int32_t value);
    void putDouble(double value);

    const String& text() const noexcept { return m_text; }

private:
    void makeRoom(uint32_t length);

    String m_text;
    uint32_t m_room = 0;
};

// One pass of reading over a document. It bounds the nesting of arrays and
// structs, and remembers where each forward search ended, so that reading
// takes time linear in the document however its end tags are missing.
class XmlReader {
public:
    // Arrays and structs nested deeper than this fail to read.
    static constexpr uint32_t maxDepth = 256;

    explicit XmlReader(const String& text) noexcept;

    const String& text() const noexcept { return m_text; }
    uint32_t length() const noexcept { return m_text.length(); }

    bool skipPrefix(const char* literal, uint32_t length, uint32_t& pos);
    template <uint32_t N>
    bool skipPrefix(const char (&literal)[N], uint32_t& pos) {
        return skipPrefix(literal, N - 1, pos);
    }
    bool skipPastValueEnd(uint32_t& pos);
    // The type tag after "<value>": start and length in the text, or length
    // 0 with `pos` unchanged.
    uint32_t nextTag(uint32_t& pos, uint32_t& start);
    // The position of the next "<" at or after `from`, or String::npos.
    uint32_t nextOpen(uint32_t from) { return find(m_open, from); }
    // textBetween for "<name>".
    bool nameBetween(uint32_t& pos, String& name);

    // Too deep a nesting fails the whole document, not just the innermost
    // element: an enclosing array would otherwise end quietly there.
    bool enter() noexcept {
        if (++m_depth > maxDepth) m_tooDeep = true;
        return !m_tooDeep;
    }
    void leave() noexcept { --m_depth; }
    bool tooDeep() const noexcept { return m_tooDeep; }

    // Scratch room for the members of the structs being read: each struct
    // reads its members after those of the structs around it, and gives
    // the room back when it is done.
    std::vector<DictItem<String, Value>>& memberStack() noexcept { return m_members; }

private:
    // What one literal's last search found: no occurrence starts in
    // [from, hit), and one starts at hit (npos: none up to the end).
    struct Search {
        const char* literal;
        uint32_t length;
        uint32_t from = String::npos;
        uint32_t hit = String::npos;
    };
    uint32_t find(Search& search, uint32_t from);
    // The first byte at or after `from` that is not white space; the last
    // run skipped is remembered like a search.
    uint32_t skipSpace(uint32_t from);

    const String& m_text;
    uint32_t m_depth = 0;
    bool m_tooDeep = false;
    std::vector<DictItem<String, Value>> m_members;
    Search m_open{"<", 1};
    Search m_close{">", 1};
    Search m_valueEnd{"</value>", 8};
    Search m_name{"<name>", 6};
    Search m_nameEnd{"</name>", 7};
    uint32_t m_spaceFrom = String::npos;
    uint32_t m_spaceEnd = String::npos;
};

}  // namespace trivane::xmlrpc
