// Dictionaries: sorted arrays of key and value pairs.
#pragma once

#include "base/array.h"

namespace trivane {

template <class K, class V>
struct DictItem {
    K key{};
    V value{};

    friend bool operator<(const DictItem& a, const DictItem& b) { return a.key < b.key; }
    friend bool operator<(const DictItem& a, const K& b) { return a.key < b; }
    friend bool operator<(const K& a, const DictItem& b) { return a < b.key; }
};

// Ordered by key: numbers numerically, strings shorter first and then by
// unsigned bytes. Lookups are binary searches.
template <class K, class V, class Lock = NoMutex>
class Dict : public SortedArray<DictItem<K, V>, Lock> {
    using Base = SortedArray<DictItem<K, V>, Lock>;

public:
    using Item = DictItem<K, V>;

    // Adds the pair when the key is absent; true when it was added.
    bool insert(const K& key, const V& value) {
        Locker<Lock> hold(this->m_lock);
        if (this->find(key) != this->count()) return false;
        this->insertAt(this->lowerBound(key), Item{key, value});
        return true;
    }

    bool contains(const K& key) const { return this->find(key) != this->count(); }

    // The value of a present key; an absent key throws EBadItem.
    const V& get(const K& key) const {
        Locker<Lock> hold(this->m_lock);
        const uint32_t i = this->find(key);
        if (i == this->count()) TRIVANE_THROW(EBadItem);
        return this->at(i).value;
    }

    // The value of the key, created when absent.
    V& item(const K& key) {
        Locker<Lock> hold(this->m_lock);
        uint32_t i = this->find(key);
        if (i == this->count()) {
            i = this->lowerBound(key);
            this->insertAt(i, Item{key, V{}});
        }
        return Base::item(i).value;
    }

    const Item& itemAt(uint32_t index) const { return this->at(index); }

    // Removes the key when present; true when it was there.
    bool remove(const K& key) {
        Locker<Lock> hold(this->m_lock);
        const uint32_t i = this->find(key);
        if (i == this->count()) return false;
        this->removeAt(i);
        return true;
    }
};

template <class V, class Lock = NoMutex>
class StringDict : public Dict<String, V, Lock> {};

// A string dictionary that reads and writes itself. In a configuration each
// pair is one element member holding a key member and a value member; in a
// stream, the count and then key, value, key, value...
template <class V, class Lock = NoMutex>
class SerializeStringDict : public StringDict<V, Lock>, public ISerialize {
public:
    SerializeStringDict(const String& elementName = "element"_s, const String& keyName = "key"_s,
                        const String& valueName = "value"_s)
        : m_elementName(elementName), m_keyName(keyName), m_valueName(valueName) {}

    // Reads an element into a pair of its own, by value.
    class ElementCop : public ISerialize {
    public:
        ElementCop(const SerializeStringDict& owner) : m_owner(owner) {}
        void loadConf(IConfReader& r) override {
            Serializer<String>::loadConf(r.member(m_owner.m_keyName), key);
            Serializer<V>::loadConf(r.member(m_owner.m_valueName), value);
        }
        void loadStream(IReader& r) override {
            Serializer<String>::load(r, key);
            Serializer<V>::load(r, value);
        }
        void saveConf(IConfWriter& w) override {
            Serializer<String>::saveConf(w.member(m_owner.m_keyName), key);
            Serializer<V>::saveConf(w.member(m_owner.m_valueName), value);
        }
        void saveStream(IWriter& w) override {
            Serializer<String>::save(w, key);
            Serializer<V>::save(w, value);
        }
        String key;
        V value{};

    private:
        const SerializeStringDict& m_owner;
    };

    // Writes an element of the dictionary in place, by reference.
    class ElementRef : public ISerialize {
    public:
        ElementRef(const SerializeStringDict& owner, String& key, V& value)
            : m_owner(owner), m_key(key), m_value(value) {}
        void loadConf(IConfReader& r) override {
            Serializer<String>::loadConf(r.member(m_owner.m_keyName), m_key);
            Serializer<V>::loadConf(r.member(m_owner.m_valueName), m_value);
        }
        void loadStream(IReader& r) override {
            Serializer<String>::load(r, m_key);
            Serializer<V>::load(r, m_value);
        }
        void saveConf(IConfWriter& w) override {
            Serializer<String>::saveConf(w.member(m_owner.m_keyName), m_key);
            Serializer<V>::saveConf(w.member(m_owner.m_valueName), m_value);
        }
        void saveStream(IWriter& w) override {
            Serializer<String>::save(w, m_key);
            Serializer<V>::save(w, m_value);
        }

    private:
        const SerializeStringDict& m_owner;
        String& m_key;
        V& m_value;
    };

    void loadConf(IConfReader& reader) override {
        this->clear();
        for (uint32_t i = 0, n = reader.memberCount(m_elementName); i < n; ++i) {
            ElementCop element(*this);
            element.loadConf(reader.member(m_elementName, i));
            this->insert(element.key, element.value);
        }
    }
    void loadStream(IReader& reader) override {
        this->clear();
        for (uint32_t i = 0, n = reader.readUInt32(); i < n; ++i) {
            ElementCop element(*this);
            element.loadStream(reader);
            this->insert(element.key, element.value);
        }
    }
    void saveConf(IConfWriter& writer) override {
        for (uint32_t i = 0, n = this->count(); i < n; ++i) elementRef(i).saveConf(writer.member(m_elementName));
    }
    void saveStream(IWriter& writer) override {
        const uint32_t n = this->count();
        writer.writeUInt32(n);
        for (uint32_t i = 0; i < n; ++i) elementRef(i).saveStream(writer);
    }

private:
    ElementRef elementRef(uint32_t i) {
        auto& pair = const_cast<DictItem<String, V>&>(this->itemAt(i));
        return ElementRef(*this, pair.key, pair.value);
    }

    String m_elementName;
    String m_keyName;
    String m_valueName;
};

}  // namespace trivane
