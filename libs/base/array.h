// Copy-on-write arrays over a shared counted block, and their sorted and
// serialisable forms.
#pragma once

#include "base/exception.h"
#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/serialize.h"

#include <cstdint>
#include <utility>

namespace trivane {

template <class T>
class ArrayBlock final : public gc::ObjectDelete {
public:
    ArrayBlock() = default;
    ~ArrayBlock() override { delete[] m_items; }
    ArrayBlock(const ArrayBlock&) = delete;
    ArrayBlock& operator=(const ArrayBlock&) = delete;
    const char* className() const noexcept override { return "ArrayBlock"; }

    // A private copy sized to the items in use.
    ArrayBlock* clone() const {
        ArrayBlock* copy = new ArrayBlock();
        copy->reserve(m_count);
        for (uint32_t i = 0; i < m_count; ++i) copy->m_items[i] = m_items[i];
        copy->m_count = m_count;
        return copy;
    }

    // Room for `n` items: capacity becomes n + n/5 when it is smaller.
    void reserve(uint32_t n) {
        if (n <= m_capacity) return;
        const uint32_t capacity = checkedSize(uint64_t(n) + n / 5);
        T* items = new T[capacity];
        for (uint32_t i = 0; i < m_count; ++i) std::swap(items[i], m_items[i]);
        delete[] m_items;
        m_items = items;
        m_capacity = capacity;
    }

    T* m_items = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
};

// Copies share the storage; a modifying operation first makes it private.
// Every operation holds the lock while it touches the storage; references
// returned by item() stay valid until the next modification.
template <class T, class Lock = NoMutex>
class Array {
public:
    Array() = default;
    Array(const Array& other) : m_storage(other.sharedStorage()) {}
    Array& operator=(const Array& other) {
        if (this != &other) {
            gc::Pointer<ArrayBlock<T>> storage = other.sharedStorage();
            Locker<Lock> hold(m_lock);
            m_storage = std::move(storage);
        }
        return *this;
    }
    virtual ~Array() = default;

    uint32_t count() const {
        Locker<Lock> hold(m_lock);
        return m_storage ? m_storage->m_count : 0;
    }
    bool isEmpty() const { return count() == 0; }

    // The item at `index`, extending the array with default items up to it.
    // An array without storage, or an index that reads as negative, throws
    // EBadItem.
    T& item(uint32_t index) {
        Locker<Lock> hold(m_lock);
        if (!m_storage || index >= 0x80000000u) TRIVANE_THROW(EBadItem);
        ArrayBlock<T>& block = writable();
        if (index >= block.m_count) {
            block.reserve(index + 1);
            block.m_count = index + 1;
        }
        return block.m_items[index];
    }

    // Read-only access; an index at or beyond the count throws EBadItem.
    const T& at(uint32_t index) const {
        Locker<Lock> hold(m_lock);
        if (!m_storage || index >= m_storage->m_count) TRIVANE_THROW(EBadItem);
        return m_storage->m_items[index];
    }
    const T& operator[](uint32_t index) const { return at(index); }

    void append(const T& value) {
        Locker<Lock> hold(m_lock);
        ArrayBlock<T>& block = writableOrNew();
        block.reserve(checkedSize(uint64_t(block.m_count) + 1));
        block.m_items[block.m_count++] = value;
    }

    // Removes one item; an array that becomes empty drops its storage.
    void removeAt(uint32_t index) {
        Locker<Lock> hold(m_lock);
        if (!m_storage || index >= m_storage->m_count) TRIVANE_THROW(EBadItem);
        ArrayBlock<T>& block = writable();
        for (uint32_t i = index; i + 1 < block.m_count; ++i) std::swap(block.m_items[i], block.m_items[i + 1]);
        block.m_items[--block.m_count] = T();
        if (block.m_count == 0) m_storage.reset();
    }

    void clear() {
        Locker<Lock> hold(m_lock);
        m_storage.reset();
    }

    // Iteration over a snapshot is the caller's business: these read the
    // storage as it is now.
    const T* begin() const { return m_storage ? m_storage->m_items : nullptr; }
    const T* end() const { return m_storage ? m_storage->m_items + m_storage->m_count : nullptr; }

protected:
    // Inserts before `index` (at most the count), shifting the rest up.
    void insertAt(uint32_t index, const T& value) {
        Locker<Lock> hold(m_lock);
        ArrayBlock<T>& block = writableOrNew();
        if (index > block.m_count) TRIVANE_THROW(EBadItem);
        block.reserve(checkedSize(uint64_t(block.m_count) + 1));
        block.m_items[block.m_count] = value;
        for (uint32_t i = block.m_count; i > index; --i) std::swap(block.m_items[i], block.m_items[i - 1]);
        ++block.m_count;
    }

    // Caller holds the lock.
    ArrayBlock<T>& writable() {
        if (m_storage->refCount() > 1) m_storage = gc::Pointer<ArrayBlock<T>>::adopt(m_storage->clone());
        return *m_storage;
    }
    ArrayBlock<T>& writableOrNew() {
        if (!m_storage) m_storage = gc::Pointer<ArrayBlock<T>>::adopt(new ArrayBlock<T>());
        return writable();
    }
    T* items() { return m_storage ? m_storage->m_items : nullptr; }
    const T* items() const { return m_storage ? m_storage->m_items : nullptr; }

    mutable Lock m_lock;

private:
    gc::Pointer<ArrayBlock<T>> sharedStorage() const {
        Locker<Lock> hold(m_lock);
        return m_storage;
    }

    gc::Pointer<ArrayBlock<T>> m_storage;
};

// Items kept in the order of T's operator<.
template <class T, class Lock = NoMutex>
class SortedArray : public Array<T, Lock> {
public:
    // Sorts the items in place.
    void sort() {
        Locker<Lock> hold(this->m_lock);
        if (this->count() < 2) return;
        ArrayBlock<T>& block = this->writable();
        // Insertion sort: arrays here are small and nearly sorted.
        for (uint32_t i = 1; i < block.m_count; ++i)
            for (uint32_t j = i; j > 0 && block.m_items[j] < block.m_items[j - 1]; --j)
                std::swap(block.m_items[j], block.m_items[j - 1]);
    }

    // Inserts at the sorted position, after equal items.
    void insertSorted(const T& value) {
        Locker<Lock> hold(this->m_lock);
        this->insertAt(upperBound(value), value);
    }

    // The index of an item equal to `key` (neither is less), or count().
    template <class K>
    uint32_t find(const K& key) const {
        Locker<Lock> hold(this->m_lock);
        const uint32_t n = this->count();
        const uint32_t i = lowerBound(key);
        return (i < n && !(key < this->items()[i])) ? i : n;
    }

protected:
    template <class K>
    uint32_t lowerBound(const K& key) const {
        uint32_t low = 0, high = this->count();
        const T* items = this->items();
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (items[middle] < key) low = middle + 1;
            else high = middle;
        }
        return low;
    }
    template <class K>
    uint32_t upperBound(const K& key) const {
        uint32_t low = 0, high = this->count();
        const T* items = this->items();
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (key < items[middle]) high = middle;
            else low = middle + 1;
        }
        return low;
    }
};

// An array that reads and writes itself: in a stream, the count and then
// the items; in a configuration, one member per item under the element name.
template <class T, class Lock = NoMutex>
class SerializeArray : public Array<T, Lock>, public ISerialize {
public:
    explicit SerializeArray(const String& elementName = "element"_s) : m_elementName(elementName) {}

    void loadConf(IConfReader& reader) override {
        this->clear();
        const uint32_t n = reader.memberCount(m_elementName);
        for (uint32_t i = 0; i < n; ++i) {
            T value{};
            Serializer<T>::loadConf(reader.member(m_elementName, i), value);
            this->append(value);
        }
    }
    void loadStream(IReader& reader) override {
        this->clear();
        const uint32_t n = reader.readUInt32();
        for (uint32_t i = 0; i < n; ++i) {
            T value{};
            Serializer<T>::load(reader, value);
            this->append(value);
        }
    }
    void saveConf(IConfWriter& writer) override {
        for (uint32_t i = 0, n = this->count(); i < n; ++i) Serializer<T>::saveConf(writer.member(m_elementName), element(i));
    }
    void saveStream(IWriter& writer) override {
        const uint32_t n = this->count();
        writer.writeUInt32(n);
        for (uint32_t i = 0; i < n; ++i) Serializer<T>::save(writer, element(i));
    }

private:
    // Saving reads the items; the writer interface takes them unqualified.
    T& element(uint32_t i) { return const_cast<T&>(this->at(i)); }

    String m_elementName;
};

// The list-of-strings type.
class Strings : public SerializeArray<String, NoMutex> {};

}  // namespace trivane

#include <list>
#include <vector>

namespace trivane {

// Standard containers that read and write themselves like SerializeArray.
template <class Base, class T>
class SerializeStd : public Base, public ISerialize {
public:
    using Base::Base;
    void loadConf(IConfReader& reader) override {
        this->clear();
        for (uint32_t i = 0, n = reader.memberCount("element"_s); i < n; ++i) {
            T value{};
            Serializer<T>::loadConf(reader.member("element"_s, i), value);
            this->push_back(value);
        }
    }
    void loadStream(IReader& reader) override {
        this->clear();
        for (uint32_t i = 0, n = reader.readUInt32(); i < n; ++i) {
            T value{};
            Serializer<T>::load(reader, value);
            this->push_back(value);
        }
    }
    void saveConf(IConfWriter& writer) override {
        for (T& value : *this) Serializer<T>::saveConf(writer.member("element"_s), value);
    }
    void saveStream(IWriter& writer) override {
        writer.writeUInt32(checkedSize(this->size()));
        for (T& value : *this) Serializer<T>::save(writer, value);
    }
};

template <class T>
class Vector : public SerializeStd<std::vector<T>, T> {
    using SerializeStd<std::vector<T>, T>::SerializeStd;
};

template <class T>
class List : public SerializeStd<std::list<T>, T> {
    using SerializeStd<std::list<T>, T>::SerializeStd;
};

}  // namespace trivane
