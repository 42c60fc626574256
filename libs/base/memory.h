// A shared byte buffer over a pooled block, copied on write like String.
#pragma once

#include "base/gcobject.h"
#include "base/memoryblock.h"

#include <cstdint>

namespace trivane {

class String;

class Memory {
public:
    Memory() noexcept = default;
    // Copies `length` bytes.
    Memory(const char* bytes, uint32_t length);
    explicit Memory(const String& text);

    static const Memory& empty() noexcept;

    uint32_t length() const noexcept { return m_length; }
    bool isEmpty() const noexcept { return m_length == 0; }
    const char* data() const noexcept { return m_data ? m_data : ""; }
    // Writable bytes; copies first when the block is shared.
    char* writableData();

    // Room for `n` more bytes at the end; the caller writes them, then
    // adds them with setLength.
    char* reserve(uint32_t n);
    void setLength(uint32_t length);
    void append(const char* bytes, uint32_t length);
    // Appending to an empty buffer shares the other's block.
    void append(const Memory& other);
    void fill(uint32_t n, char byte);
    void clear() noexcept;

    friend Memory operator+(const Memory& a, const Memory& b);
    friend bool operator==(const Memory& a, const Memory& b) noexcept;

private:
    bool ownsBlockStart() const noexcept {
        return m_block && m_block->refCount() == 1 && m_data == m_block->data();
    }

    gc::Pointer<MemoryBlock> m_block;
    char* m_data = nullptr;
    uint32_t m_length = 0;
};

}  // namespace trivane
