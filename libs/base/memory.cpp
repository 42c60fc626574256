// Byte buffers.
#include "base/memory.h"

#include "base/exception.h"
#include "base/string.h"

#include <cstring>

namespace trivane {

namespace {
constinit const Memory s_empty;
}

const Memory& Memory::empty() noexcept { return s_empty; }

Memory::Memory(const char* bytes, uint32_t length) { append(bytes, length); }

Memory::Memory(const String& text) { append(text.data(), text.length()); }

char* Memory::reserve(uint32_t n) {
    if (n == 0) n = 1;
    const uint32_t end = checkedSize(uint64_t(m_length) + n);
    if (!ownsBlockStart()) {
        auto block = gc::Pointer<MemoryBlock>::adopt(MemoryBlock::get(checkedSize(uint64_t(end) + 1)));
        if (m_length) std::memcpy(block->data(), m_data, m_length);
        m_data = block->data();
        m_block = std::move(block);
    } else if (end >= m_block->capacity()) {
        m_block->grow(checkedSize(uint64_t(end) + 1));
        m_data = m_block->data();
    }
    return m_data + m_length;
}

char* Memory::writableData() {
    if (m_length == 0) return reserve(0) - m_length;
    if (!m_block || m_block->refCount() > 1) {
        const uint32_t length = m_length;
        Memory copy(m_data, length);
        *this = copy;
    }
    return m_data;
}

void Memory::setLength(uint32_t length) {
    if (length > m_length) reserve(length - m_length);
    m_length = length;
}

void Memory::append(const char* bytes, uint32_t length) {
    if (length == 0) return;
    gc::Pointer<MemoryBlock> keep;
    if (m_block && m_block->contains(bytes)) keep = m_block;
    char* out = reserve(length);
    std::memcpy(out, bytes, length);
    m_length += length;
}

void Memory::append(const Memory& other) {
    if (other.m_length == 0) return;
    if (m_length == 0) {
        *this = other;
        return;
    }
    append(other.m_data, other.m_length);
}

void Memory::fill(uint32_t n, char byte) {
    if (n == 0) return;
    std::memset(reserve(n), byte, n);
    m_length += n;
}

void Memory::clear() noexcept {
    m_block.reset();
    m_data = nullptr;
    m_length = 0;
}

Memory operator+(const Memory& a, const Memory& b) {
    if (a.m_length == 0) return b;
    if (b.m_length == 0) return a;
    Memory result;
    result.reserve(checkedSize(uint64_t(a.m_length) + b.m_length));
    result.append(a.m_data, a.m_length);
    result.append(b.m_data, b.m_length);
    return result;
}

bool operator==(const Memory& a, const Memory& b) noexcept {
    return a.m_length == b.m_length && (a.m_length == 0 || std::memcmp(a.m_data, b.m_data, a.m_length) == 0);
}

}  // namespace trivane
