// String storage, searching, rewriting and number conversions.
#include "base/string.h"

#include "base/assert.h"
#include "base/exception.h"
#include "base/memory.h"

#include <array>
#include <cstring>

namespace trivane {

const char String::s_emptyText[1] = {0};

namespace {

// Entry c holds the byte c followed by NUL: one-byte strings refer to it.
constexpr auto s_chars = [] {
    std::array<std::array<char, 2>, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = {static_cast<char>(c), 0};
    return table;
}();

constinit const String s_emptyString;

inline char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
inline bool isBlank(char c) noexcept { return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' '; }
inline bool isSpace(char c) noexcept { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
inline uint32_t cLength(const char* cText) { return checkedSize(std::strlen(cText)); }

// Pieces of concatenations are mostly a few bytes long: two overlapping
// fixed-size moves beat both a call to memcpy and a byte loop.
inline void copyBytes(char* out, const char* in, uint32_t n) noexcept {
    if (n <= 16) {
        if (n >= 8) {
            uint64_t head, tail;
            std::memcpy(&head, in, 8);
            std::memcpy(&tail, in + n - 8, 8);
            std::memcpy(out, &head, 8);
            std::memcpy(out + n - 8, &tail, 8);
        } else if (n >= 4) {
            uint32_t head, tail;
            std::memcpy(&head, in, 4);
            std::memcpy(&tail, in + n - 4, 4);
            std::memcpy(out, &head, 4);
            std::memcpy(out + n - 4, &tail, 4);
        } else if (n > 0) {
            const char first = in[0], middle = in[n / 2], last = in[n - 1];
            out[0] = first;
            out[n / 2] = middle;
            out[n - 1] = last;
        }
        return;
    }
    std::memcpy(out, in, n);
}

bool isStaticText(const char* p) noexcept {
    const char* table = &s_chars[0][0];
    return p >= table && p < table + sizeof(s_chars);
}

}  // namespace

const String& String::empty() noexcept { return s_emptyString; }

String::String(const char* cText) : String() {
    TRIVANE_ASSERT(cText);
    append(cText, cLength(cText));
}

String::String(const Memory& memory) : String() { append(reinterpret_cast<const char*>(memory.data()), memory.length()); }

String::String(const StringAddition& addition) : String() {
    const uint32_t total = addition.length();
    if (total == 0) return;
    char* out = reserve(total);
    for (const StringAdditionBlock* block = addition.head(); block; block = block->m_next.get()) {
        for (uint32_t i = 0; i < block->m_used; ++i) {
            const String& piece = block->m_pieces[i];
            copyBytes(out, piece.m_string, piece.m_length);
            out += piece.m_length;
        }
    }
    m_length = total;
}

String& String::operator=(const String& other) noexcept {
    if (m_block != other.m_block) m_block = other.m_block;
    m_length = other.m_length;
    m_string = other.m_string;
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        m_block = std::move(other.m_block);
        m_length = std::exchange(other.m_length, 0);
        m_string = std::exchange(other.m_string, const_cast<char*>(s_emptyText));
    }
    return *this;
}

String String::ofBytes(const char* text, uint32_t length) {
    String s;
    s.append(text, length);
    return s;
}

String String::clone() const {
    if (m_length == 0) return s_emptyString;
    return ofBytes(m_string, m_length);
}

void String::copyToNewBlock(uint32_t extra) {
    const uint32_t size = checkedSize(uint64_t(m_length) + extra + 1);
    gc::Pointer<MemoryBlock> block = gc::Pointer<MemoryBlock>::adopt(MemoryBlock::get(size));
    std::memcpy(block->data(), m_string, m_length);
    block->data()[m_length] = 0;
    m_string = block->data();
    m_block = std::move(block);
}

char* String::reserve(uint32_t n) {
    if (n == 0) n = 1;
    const uint32_t end = checkedSize(uint64_t(m_length) + n);
    if (!ownsBlockStart()) {
        copyToNewBlock(n);
    } else if (end >= m_block->capacity()) {
        m_block->grow(checkedSize(uint64_t(end) + 1));
        m_string = m_block->data();
    }
    m_string[end] = 0;
    return m_string + m_length;
}

void String::setLength(uint32_t length) {
    if (length > m_length) reserve(length - m_length);
    m_length = length;
}

const char* String::cStr() {
    if (m_length == 0) return s_emptyText;
    // Only bytes inside a block, or the static table, can be looked at past
    // the end: a wrapped text may stop right at its last byte.
    const bool terminated = m_block ? (m_block->contains(m_string + m_length) && m_string[m_length] == 0)
                                    : isStaticText(m_string);
    if (!terminated) copyToNewBlock(0);
    return m_string;
}

char String::charAt(uint32_t pos) const {
    TRIVANE_ASSERT(pos < m_length);
    return m_string[pos];
}

void String::setCharAt(uint32_t pos, char c) {
    TRIVANE_ASSERT(pos < m_length);
    if (!m_block || m_block->refCount() > 1) *this = clone();
    m_string[pos] = c;
}

void String::append(const String& other) {
    if (other.m_length == 0) return;
    if (m_length == 0) {
        *this = other;
        return;
    }
    append(other.m_string, other.m_length);
}

void String::append(const char* text, uint32_t length) {
    if (length == 0) return;
    TRIVANE_ASSERT(text);
    // Bytes of our own block would move or be reused when it grows: holding
    // a second reference makes reserve copy into a new block instead.
    gc::Pointer<MemoryBlock> keep;
    if (m_block && m_block->contains(text)) keep = m_block;
    char* out = reserve(length);
    std::memcpy(out, text, length);
    m_length += length;
}

void String::append(const char* cText) {
    TRIVANE_ASSERT(cText);
    append(cText, cLength(cText));
}

void String::append(char c) {
    if (m_length == 0) {
        m_block.reset();
        m_string = const_cast<char*>(s_chars[static_cast<unsigned char>(c)].data());
        m_length = 1;
        return;
    }
    *reserve(1) = c;
    ++m_length;
}

String String::mid(uint32_t pos) const {
    if (pos >= m_length) return String();
    return String(m_block, m_string + pos, m_length - pos);
}

String String::mid(uint32_t pos, uint32_t count) const {
    if (pos >= m_length || count == 0) return String();
    if (count >= m_length - pos) return mid(pos);
    return String(m_block, m_string + pos, count);
}

String String::before(char c) const {
    const uint32_t pos = find(c);
    return pos == npos ? *this : mid(0, pos);
}

String String::after(char c) const {
    const uint32_t pos = find(c);
    return pos == npos ? String() : mid(pos + 1);
}

String String::trim() const {
    uint32_t begin = 0, end = m_length;
    while (begin < end && isBlank(m_string[begin])) ++begin;
    while (end > begin && isBlank(m_string[end - 1])) --end;
    if (begin == end) return String();
    return String(m_block, m_string + begin, end - begin);
}

String String::toLower() const {
    uint32_t i = 0;
    while (i < m_length && !(m_string[i] >= 'A' && m_string[i] <= 'Z')) ++i;
    if (i == m_length) return *this;
    String result = ofBytes(m_string, m_length);
    for (; i < m_length; ++i) result.m_string[i] = lower(result.m_string[i]);
    return result;
}

uint32_t String::find(char c, uint32_t from) const {
    if (from >= m_length) return npos;
    const void* hit = std::memchr(m_string + from, c, m_length - from);
    return hit ? static_cast<uint32_t>(static_cast<const char*>(hit) - m_string) : npos;
}

uint32_t String::rfind(char c) const { return m_length == 0 ? npos : rfind(c, m_length - 1); }

uint32_t String::rfind(char c, uint32_t from) const {
    if (from >= m_length) return npos;
    for (uint32_t i = from + 1; i-- > 0;)
        if (m_string[i] == c) return i;
    return npos;
}

uint32_t String::find(const char* cText, uint32_t from) const {
    TRIVANE_ASSERT(cText);
    return find(cText, cLength(cText), from, npos);
}

uint32_t String::find(const char* text, uint32_t length, uint32_t from, uint32_t end) const {
    if (end > m_length) end = m_length;
    // A pattern longer than what is left is simply not there.
    if (from > end || length > end - from) return npos;
    const size_t hit = view().substr(0, end).find(std::string_view(text, length), from);
    return hit == std::string_view::npos ? npos : static_cast<uint32_t>(hit);
}

uint32_t String::findFirstOf(const String& set, uint32_t from) const {
    if (from >= m_length) return npos;
    const size_t hit = view().find_first_of(set.view(), from);
    return hit == std::string_view::npos ? npos : static_cast<uint32_t>(hit);
}

uint32_t String::findFirstOf(const char* cSet, uint32_t from) const {
    TRIVANE_ASSERT(cSet);
    return findFirstOf(String(cSet, cLength(cSet)), from);
}

uint32_t String::skipWhitespace(uint32_t from, uint32_t end) const {
    if (end > m_length) end = m_length;
    for (uint32_t i = from; i < end; ++i)
        if (!isSpace(m_string[i])) return i;
    return npos;
}

uint32_t String::findIgnoreCase(const char* lowerText, uint32_t length, uint32_t from, uint32_t end) const {
    if (end > m_length) end = m_length;
    if (from > end || length > end - from) return npos;
    if (length == 0) return from;
    const char first = lowerText[0];
    for (uint32_t i = from, last = end - length; i <= last; ++i) {
        if (lower(m_string[i]) != first) continue;
        uint32_t k = 1;
        while (k < length && lower(m_string[i + k]) == lowerText[k]) ++k;
        if (k == length) return i;
    }
    return npos;
}

bool String::equals(const char* text, uint32_t length) const noexcept {
    return m_length == length && (m_string == text || std::memcmp(m_string, text, length) == 0);
}

bool String::equalsIgnoreCase(const char* lowerText, uint32_t length) const noexcept {
    return m_length == length && matchesIgnoreCaseAt(lowerText, length, 0);
}

bool String::matchesIgnoreCaseAt(const char* lowerText, uint32_t length, uint32_t pos) const noexcept {
    if (pos == npos || pos > m_length || length > m_length - pos) return false;
    for (uint32_t k = 0; k < length; ++k)
        if (lower(m_string[pos + k]) != lowerText[k]) return false;
    return true;
}

int String::compare(const String& other) const noexcept {
    if (m_length != other.m_length) return m_length < other.m_length ? -1 : 1;
    return m_length == 0 ? 0 : std::memcmp(m_string, other.m_string, m_length);
}

String String::replace(char c1, char c2) const {
    uint32_t i = find(c1);
    if (i == npos) return *this;
    String result = ofBytes(m_string, m_length);
    for (; i < m_length; ++i)
        if (result.m_string[i] == c1) result.m_string[i] = c2;
    return result;
}

String String::replace(const char* cPattern, const char* cText) const {
    TRIVANE_ASSERT(cPattern);
    TRIVANE_ASSERT(cText);
    const uint32_t patternLength = cLength(cPattern), textLength = cLength(cText);
    uint32_t hit = patternLength == 0 ? npos : find(cPattern, patternLength, 0);
    if (hit == npos) return *this;
    String result;
    uint32_t from = 0;
    while (hit != npos) {
        result.append(m_string + from, hit - from);
        result.append(cText, textLength);
        from = hit + patternLength;
        hit = find(cPattern, patternLength, from);
    }
    result.append(m_string + from, m_length - from);
    return result;
}

String String::remove(char c) const {
    if (find(c) == npos) return *this;
    String result;
    char* out = result.reserve(m_length);
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_length; ++i)
        if (m_string[i] != c) out[n++] = m_string[i];
    result.m_length = n;
    result.m_string[n] = 0;
    return result;
}

namespace {

String fromDigits(uint64_t magnitude, bool negative) {
    char buffer[21];
    char* p = buffer + sizeof buffer;
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--p = '-';
    String s;
    s.append(p, static_cast<uint32_t>(buffer + sizeof buffer - p));
    return s;
}

// Magnitude without overflow for the most negative value.
uint64_t magnitude(int64_t v) { return v < 0 ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v); }

template <class T>
T parse(const char* p, const char* end, int base) noexcept {
    using U = std::make_unsigned_t<T>;
    if (p == end) return 0;
    bool negative = false;
    if (*p == '+') {
        ++p;
    } else if (*p == '-') {
        negative = true;
        ++p;
    }
    const bool hexPrefix = end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (base == 0) base = hexPrefix ? 16 : (p != end && *p == '0') ? 8 : 10;
    if (base == 16 && hexPrefix) p += 2;
    U value = 0;
    for (; p != end; ++p) {
        const char c = *p;
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'z') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'Z') digit = c - 'A' + 10;
        else break;
        if (digit >= base) break;
        value = static_cast<U>(value * static_cast<U>(base) + static_cast<U>(digit));
    }
    return static_cast<T>(negative ? static_cast<U>(U(0) - value) : value);
}

}  // namespace

String String::fromUInt16(uint16_t value) { return fromDigits(value, false); }
String String::fromInt(int32_t value) { return fromDigits(magnitude(value), value < 0); }
String String::fromUInt(uint32_t value) { return fromDigits(value, false); }
String String::fromInt64(int64_t value) { return fromDigits(magnitude(value), value < 0); }
String String::fromUInt64(uint64_t value) { return fromDigits(value, false); }

int32_t String::toInt(int base) const noexcept { return parse<int32_t>(m_string, m_string + m_length, base); }
int64_t String::toInt64(int base) const noexcept { return parse<int64_t>(m_string, m_string + m_length, base); }
int32_t String::toInt(const char* cText, int base) noexcept {
    return parse<int32_t>(cText, cText + std::strlen(cText), base);
}
int64_t String::toInt64(const char* cText, int base) noexcept {
    return parse<int64_t>(cText, cText + std::strlen(cText), base);
}

String StringSplitter::next() {
    if (m_pos == String::npos) return String();
    const uint32_t hit = m_source.find(m_separator, m_pos);
    String token;
    if (hit == String::npos) {
        token = m_source.mid(m_pos);
        m_pos = String::npos;
    } else {
        token = m_source.mid(m_pos, hit - m_pos);
        m_pos = hit + 1;
    }
    return token;
}

String StringTokenizer::next() {
    const uint32_t hit = m_source.findFirstOf(m_separators, m_pos);
    String token;
    if (hit == String::npos) {
        token = m_source.mid(m_pos);
        m_pos = m_source.length();
    } else {
        token = m_source.mid(m_pos, hit - m_pos);
        m_pos = hit + 1;
    }
    return token;
}

namespace {

// Freed addition blocks, per thread, reused before the general allocator.
// The cache is trivially destructible so that it can still be read while the
// thread's other thread-local objects are destroyed; a count of -1 marks a
// thread whose cache has been emptied for good.
struct AdditionBlockCache {
    static constexpr int capacity = 8;
    void* blocks[capacity];
    int count;
};
thread_local AdditionBlockCache t_additionBlocks;

struct AdditionBlockCacheFlusher {
    ~AdditionBlockCacheFlusher() {
        AdditionBlockCache& cache = t_additionBlocks;
        while (cache.count > 0) ::operator delete(cache.blocks[--cache.count]);
        cache.count = -1;
    }
};
thread_local AdditionBlockCacheFlusher t_additionBlocksFlusher;

}  // namespace

void* StringAdditionBlock::operator new(std::size_t size) {
    AdditionBlockCache& cache = t_additionBlocks;
    if (cache.count > 0) return cache.blocks[--cache.count];
    return ::operator new(size);
}

void StringAdditionBlock::operator delete(void* p) noexcept {
    AdditionBlockCache& cache = t_additionBlocks;
    if (cache.count < 0 || cache.count == AdditionBlockCache::capacity) {
        ::operator delete(p);
        return;
    }
    if (cache.count == 0) (void)&t_additionBlocksFlusher;  // flush at thread exit
    cache.blocks[cache.count++] = p;
}

StringAddition::StringAddition(const String& a, const String& b)
    : m_head(gc::Pointer<StringAdditionBlock>::adopt(new StringAdditionBlock(a, b))) {
    checkedSize(uint64_t(a.length()) + b.length());
}

void StringAddition::refuseLength() { TRIVANE_THROW(ESizeOverflow); }

void StringAddition::chain(StringAdditionBlock* last, const String& piece) {
    last->m_next = gc::Pointer<StringAdditionBlock>::adopt(new StringAdditionBlock(piece));
}

}  // namespace trivane
