// The byte string of the whole system: cheap copies, zero-copy substrings and
// literals, copy-on-write, and concatenation that allocates once.
#pragma once

#include "base/assert.h"
#include "base/gcobject.h"
#include "base/memoryblock.h"

#include <cstdint>
#include <string_view>

namespace trivane {

class Memory;
class StringAddition;

// Bytes with no character set assumed. Copies share one pooled block; a
// string writes its block in place only when it holds it alone and starts at
// its first byte. One String object is used by one thread at a time; strings
// sharing a block may live on different threads.
class String {
public:
    static constexpr uint32_t npos = 0xFFFFFFFFu;

    constexpr String() noexcept : m_length(0), m_string(const_cast<char*>(s_emptyText)) {}
    // Refers to `text` without copying: it must outlive the string.
    String(const char* text, uint32_t length) : m_length(length), m_string(const_cast<char*>(text)) {
        TRIVANE_ASSERT(m_string);
    }
    // Copies a NUL-terminated C string.
    String(const char* cText);
    // Copies the bytes of the buffer.
    explicit String(const Memory& memory);
    // Materialises a concatenation with one allocation.
    String(const StringAddition& addition);
    String(const String& other) noexcept : m_length(other.m_length), m_block(other.m_block), m_string(other.m_string) {}
    String(String&& other) noexcept
        : m_length(other.m_length), m_block(std::move(other.m_block)), m_string(other.m_string) {
        other.m_length = 0;
        other.m_string = const_cast<char*>(s_emptyText);
    }
    String& operator=(const String& other) noexcept;
    String& operator=(String&& other) noexcept;
    ~String() = default;

    static const String& empty() noexcept;

    // A copy with a block of its own.
    String clone() const;

    uint32_t length() const noexcept { return m_length; }
    bool isEmpty() const noexcept { return m_length == 0; }
    const char* data() const noexcept { return m_string; }
    std::string_view view() const noexcept { return {m_string, m_length}; }
    // A NUL-terminated text; may move the bytes to a block of their own, so
    // it counts as a write.
    const char* cStr();

    char charAt(uint32_t pos) const;
    void setCharAt(uint32_t pos, char c);

    void append(const String& other);
    void append(const char* text, uint32_t length);
    void append(const char* cText);
    void append(char c);
    // Room for `n` more bytes at the end (at least 1), NUL-terminated after
    // them; the caller writes its bytes there and then sets the length.
    char* reserve(uint32_t n);
    void setLength(uint32_t length);

    String mid(uint32_t pos) const;
    String mid(uint32_t pos, uint32_t count) const;
    String before(char c) const;
    String after(char c) const;
    String trim() const;
    String toLower() const;

    uint32_t find(char c, uint32_t from = 0) const;
    uint32_t rfind(char c) const;
    uint32_t rfind(char c, uint32_t from) const;
    uint32_t find(const char* cText, uint32_t from = 0) const;
    uint32_t find(const char* text, uint32_t length, uint32_t from, uint32_t end = npos) const;
    uint32_t findFirstOf(const String& set, uint32_t from = 0) const;
    uint32_t findFirstOf(const char* cSet, uint32_t from = 0) const;
    uint32_t skipWhitespace(uint32_t from = 0, uint32_t end = npos) const;
    uint32_t findIgnoreCase(const char* lowerText, uint32_t length, uint32_t from = 0, uint32_t end = npos) const;

    bool equals(const char* text, uint32_t length) const noexcept;
    bool equalsIgnoreCase(const char* lowerText, uint32_t length) const noexcept;
    bool matchesIgnoreCaseAt(const char* lowerText, uint32_t length, uint32_t pos) const noexcept;
    // Shorter strings first; equal lengths by unsigned byte values.
    int compare(const String& other) const noexcept;

    String replace(char c1, char c2) const;
    String replace(const char* cPattern, const char* cText) const;
    String remove(char c) const;

    static String fromUInt16(uint16_t value);
    static String fromInt(int32_t value);
    static String fromUInt(uint32_t value);
    static String fromInt64(int64_t value);
    static String fromUInt64(uint64_t value);

    // Never fails: the longest valid prefix counts, overflow wraps.
    int32_t toInt(int base = 10) const noexcept;
    int64_t toInt64(int base = 10) const noexcept;
    static int32_t toInt(const char* cText, int base = 10) noexcept;
    static int64_t toInt64(const char* cText, int base = 10) noexcept;

    friend bool operator==(const String& a, const String& b) noexcept { return a.equals(b.m_string, b.m_length); }
    friend bool operator<(const String& a, const String& b) noexcept { return a.compare(b) < 0; }

private:
    friend class Memory;
    friend class StringAdditionBlock;
    friend class StringAddition;
    // Makes a blockless string view the bytes of `other`.
    void refer(const String& other) noexcept {
        m_length = other.m_length;
        m_string = other.m_string;
    }
    String(const gc::Pointer<MemoryBlock>& block, char* text, uint32_t length) noexcept
        : m_length(length), m_block(block), m_string(text) {}
    static String ofBytes(const char* text, uint32_t length);
    bool ownsBlockStart() const noexcept {
        return m_block && m_block->refCount() == 1 && m_string == m_block->data();
    }
    void copyToNewBlock(uint32_t extra);

    static const char s_emptyText[1];

    uint32_t m_length;
    gc::Pointer<MemoryBlock> m_block;
    char* m_string;
};

// One link of a concatenation chain: up to eight pieces, the length of its
// own pieces and of the whole rest of the chain.
class StringAdditionBlock final : public gc::ObjectDelete {
public:
    static constexpr uint32_t capacity = 8;

    StringAdditionBlock(const String& a, const String& b) noexcept
        : m_used(2), m_total(a.length() + b.length()), m_own(m_total) {
        m_pieces[0].refer(a);
        m_pieces[1].refer(b);
    }
    explicit StringAdditionBlock(const String& a) noexcept : m_used(1), m_total(a.length()), m_own(m_total) {
        m_pieces[0].refer(a);
    }
    const char* className() const noexcept override { return "StringAdditionBlock"; }

    // Blocks are short-lived and made in bursts: each thread keeps a few.
    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;

    String m_pieces[capacity];
    uint32_t m_used;
    gc::Pointer<StringAdditionBlock> m_next;
    uint32_t m_total;
    uint32_t m_own;
};

// A concatenation expression, materialised when it becomes a String.
//
// Lifetime rule: the pieces refer to the operands' bytes without owning them,
// so a StringAddition must become a String within the full expression that
// built it, while its operands still live. Keep Strings, never additions;
// for that reason an addition cannot be assigned.
class [[nodiscard]] StringAddition {
public:
    StringAddition(const String& a, const String& b);
    StringAddition(const StringAddition&) = default;
    StringAddition(StringAddition&&) noexcept = default;
    StringAddition& operator=(const StringAddition&) = delete;

    // Adds the piece's length to every block's total on the way to the last
    // block, and stores the piece there or in a new block.
    StringAddition& add(const String& piece) {
        const uint32_t length = piece.length();
        StringAdditionBlock* block = m_head.get();
        if (length > 0xFFFFFFFFu - block->m_total) [[unlikely]] refuseLength();
        for (;; block = block->m_next.get()) {
            block->m_total += length;
            if (!block->m_next) break;
        }
        if (block->m_used < StringAdditionBlock::capacity) {
            block->m_pieces[block->m_used++].refer(piece);
            block->m_own += length;
        } else {
            chain(block, piece);
        }
        return *this;
    }
    uint32_t length() const noexcept { return m_head->m_total; }
    const StringAdditionBlock* head() const noexcept { return m_head.get(); }

private:
    [[noreturn]] static void refuseLength();
    static void chain(StringAdditionBlock* last, const String& piece);

    gc::Pointer<StringAdditionBlock> m_head;
};

inline StringAddition operator+(const String& a, const String& b) { return StringAddition(a, b); }
inline StringAddition operator+(const String& a, const char* b) { return StringAddition(a, String(b, static_cast<uint32_t>(std::char_traits<char>::length(b)))); }
// Later operands extend the same temporary in place.
inline StringAddition&& operator+(StringAddition&& a, const String& b) { return std::move(a.add(b)); }
inline StringAddition&& operator+(StringAddition&& a, const char* b) {
    return std::move(a.add(String(b, static_cast<uint32_t>(std::char_traits<char>::length(b)))));
}

// "text"_s: a String referring to a literal, without copying.
inline String operator""_s(const char* text, std::size_t length) { return String(text, static_cast<uint32_t>(length)); }

// Splits on one separator byte; empty fields count, an empty source gives one
// empty token and a trailing separator a final empty one.
class StringSplitter {
public:
    StringSplitter(const String& source, char separator) : m_source(source), m_separator(separator) {}
    bool hasMore() const noexcept { return m_pos != String::npos; }
    String next();

private:
    String m_source;
    char m_separator;
    uint32_t m_pos = 0;
};

// Splits on any byte of a set; empty fields between separators count, but a
// separator at the very end gives no final empty token.
class StringTokenizer {
public:
    StringTokenizer(const String& separators, const String& source) : m_separators(separators), m_source(source) {}
    bool hasMore() const noexcept { return m_pos < m_source.length(); }
    String next();

private:
    String m_separators;
    String m_source;
    uint32_t m_pos = 0;
};

}  // namespace trivane
