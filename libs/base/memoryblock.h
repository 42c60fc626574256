// Reference-counted byte blocks in multiples of 64 bytes, with a lock-free
// pool keeping one released block of each size from 64 to 8192 bytes.
#pragma once

#include "base/gcobject.h"

#include <cstddef>
#include <cstdint>

namespace trivane {

class MemoryBlock final : public gc::ObjectDelete {
public:
    static constexpr uint32_t granule = 64;
    static constexpr uint32_t pooledMaximum = 8192;
    static constexpr uint32_t poolSlots = pooledMaximum / granule;

    // A block of at least `size` bytes (the caller counts its terminating
    // NUL), uncounted, its contents undefined: reused blocks keep old bytes.
    static MemoryBlock* get(uint32_t size);

    // Makes the capacity at least `size` in place, keeping the contents.
    void grow(uint32_t size);

    uint32_t capacity() const noexcept { return m_capacity; }
    char* data() const noexcept { return m_data; }
    bool contains(const char* p) const noexcept { return p >= m_data && p < m_data + m_capacity; }

    // Returns the block to its pool slot; the block it displaces, or a block
    // of a size the pool does not keep, is destroyed.
    void onLastRelease() noexcept override;
    const char* className() const noexcept override { return "MemoryBlock"; }

    // A new block and its first bytes are one allocation.
    static void operator delete(void* p) noexcept { ::operator delete(p); }

private:
    MemoryBlock(uint32_t capacity) noexcept : m_capacity(capacity), m_data(inlineData()) {}
    ~MemoryBlock() override;
    char* inlineData() noexcept { return reinterpret_cast<char*>(this + 1); }
    static MemoryBlock* create(uint32_t capacity);

    uint32_t m_capacity;
    char* m_data;
};

}  // namespace trivane
