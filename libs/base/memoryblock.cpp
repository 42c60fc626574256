// The memory block pool: one atomically exchanged slot per 64-byte size class.
#include "base/memoryblock.h"

#include "base/assert.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace trivane {

namespace {

// Constant-initialised, so blocks may be taken and returned during static
// initialisation and destruction. Blocks left here at exit are not freed.
std::atomic<MemoryBlock*> s_pool[MemoryBlock::poolSlots];

uint32_t roundUp(uint32_t size) {
    const uint32_t upperSize = (size + (MemoryBlock::granule - 1)) & ~(MemoryBlock::granule - 1);
    TRIVANE_ASSERT(upperSize);
    TRIVANE_ASSERT(upperSize >= size);
    return upperSize;
}

}  // namespace

MemoryBlock* MemoryBlock::create(uint32_t capacity) {
    void* memory = ::operator new(sizeof(MemoryBlock) + capacity);
    return new (memory) MemoryBlock(capacity);
}

MemoryBlock* MemoryBlock::get(uint32_t size) {
    if (size != 0 && size <= pooledMaximum) {
        if (MemoryBlock* block = s_pool[(size - 1) / granule].exchange(nullptr, std::memory_order_acquire))
            return block;
    }
    return create(roundUp(size));
}

void MemoryBlock::grow(uint32_t size) {
    if (m_capacity >= size) return;
    const uint32_t capacity = roundUp(size);
    if (m_data == inlineData()) {
        char* data = static_cast<char*>(std::malloc(capacity));
        if (!data) throw std::bad_alloc();
        std::memcpy(data, m_data, m_capacity);
        m_data = data;
    } else {
        char* data = static_cast<char*>(std::realloc(m_data, capacity));
        if (!data) throw std::bad_alloc();
        m_data = data;
    }
    m_capacity = capacity;
}

MemoryBlock::~MemoryBlock() {
    if (m_data != inlineData()) std::free(m_data);
}

void MemoryBlock::onLastRelease() noexcept {
    MemoryBlock* victim = this;
    if (m_capacity % granule == 0 && m_capacity >= granule && m_capacity <= pooledMaximum)
        victim = s_pool[m_capacity / granule - 1].exchange(this, std::memory_order_acq_rel);
    delete victim;
}

}  // namespace trivane
