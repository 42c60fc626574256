// The serialisation interfaces: named members for configurations, and
// positional values for binary streams such as files.
#pragma once

#include "base/memory.h"
#include "base/string.h"

#include <cstdint>
#include <type_traits>

namespace trivane {

class IConfReader;
class IConfWriter;
class IReader;
class IWriter;

// Implemented by configuration records and serialisable containers.
class ISerialize {
public:
    virtual ~ISerialize() = default;
    // Reads named entries; absent keys are skipped.
    virtual void loadConf(IConfReader& reader) = 0;
    // Reads the same values in order, unnamed.
    virtual void loadStream(IReader& reader) = 0;
    virtual void saveConf(IConfWriter& writer) = 0;
    virtual void saveStream(IWriter& writer) = 0;
};

// A source of named members, each itself a reader of its value. A name may
// repeat (the elements of a list); member(name) is the first of them.
class IConfReader {
public:
    virtual ~IConfReader() = default;
    virtual bool hasMember(const String& name) = 0;
    // The member of that name; absent members throw EConfMissingKey.
    virtual IConfReader& member(const String& name) = 0;
    virtual uint32_t memberCount(const String& name) = 0;
    virtual IConfReader& member(const String& name, uint32_t index) = 0;
    virtual int32_t readInt() = 0;
    virtual bool readBool() = 0;
    virtual String readString() = 0;
    virtual void readObject(ISerialize& object) { object.loadConf(*this); }
};

class IConfWriter {
public:
    virtual ~IConfWriter() = default;
    // A new member of that name, after those already written.
    virtual IConfWriter& member(const String& name) = 0;
    virtual void writeInt(int32_t value) = 0;
    virtual void writeBool(bool value) = 0;
    virtual void writeString(const String& value) = 0;
    virtual void writeObject(ISerialize& object) { object.saveConf(*this); }
};

// Values one after the other: integers little-endian, a bool as a 16-bit 1
// or 0, a String or Memory as a 32-bit count followed by the bytes.
class IReader {
public:
    virtual ~IReader() = default;
    // Exactly `count` bytes, or an exception.
    virtual void read(void* buffer, uint32_t count) = 0;
    virtual uint8_t readUInt8();
    virtual uint16_t readUInt16();
    virtual uint32_t readUInt32();
    int8_t readInt8() { return static_cast<int8_t>(readUInt8()); }
    int16_t readInt16() { return static_cast<int16_t>(readUInt16()); }
    int32_t readInt32() { return static_cast<int32_t>(readUInt32()); }
    virtual bool readBool();
    virtual String readString();
    virtual Memory readMemory();
    virtual void readObject(ISerialize& object) { object.loadStream(*this); }

protected:
    // The byte count in front of a String or Memory; a reader may refuse
    // counts it will not allocate.
    virtual uint32_t readCount() { return readUInt32(); }
};

class IWriter {
public:
    virtual ~IWriter() = default;
    virtual void write(const void* bytes, uint32_t count) = 0;
    virtual void flush() {}
    virtual void writeUInt8(uint8_t value);
    virtual void writeUInt16(uint16_t value);
    virtual void writeUInt32(uint32_t value);
    void writeInt8(int8_t value) { writeUInt8(static_cast<uint8_t>(value)); }
    void writeInt16(int16_t value) { writeUInt16(static_cast<uint16_t>(value)); }
    void writeInt32(int32_t value) { writeUInt32(static_cast<uint32_t>(value)); }
    virtual void writeBool(bool value);
    virtual void writeString(const String& value);
    virtual void writeMemory(const Memory& value);
    virtual void writeObject(ISerialize& object) { object.saveStream(*this); }
};

class IArchive : public IWriter, public IReader {};

// How an element of a serialisable container is read and written.
template <class T, class Enable = void>
struct Serializer;

template <class T>
struct Serializer<T, std::enable_if_t<std::is_base_of_v<ISerialize, T>>> {
    static void save(IWriter& w, T& v) { w.writeObject(v); }
    static void load(IReader& r, T& v) { r.readObject(v); }
    static void saveConf(IConfWriter& w, T& v) { w.writeObject(v); }
    static void loadConf(IConfReader& r, T& v) { r.readObject(v); }
};

template <>
struct Serializer<String> {
    static void save(IWriter& w, const String& v) { w.writeString(v); }
    static void load(IReader& r, String& v) { v = r.readString(); }
    static void saveConf(IConfWriter& w, const String& v) { w.writeString(v); }
    static void loadConf(IConfReader& r, String& v) { v = r.readString(); }
};

template <class T>
struct Serializer<T, std::enable_if_t<std::is_integral_v<T>>> {
    static void save(IWriter& w, T v) {
        if constexpr (std::is_same_v<T, bool>) w.writeBool(v);
        else if constexpr (sizeof(T) == 1) w.writeUInt8(static_cast<uint8_t>(v));
        else if constexpr (sizeof(T) == 2) w.writeUInt16(static_cast<uint16_t>(v));
        else w.writeUInt32(static_cast<uint32_t>(v));
    }
    static void load(IReader& r, T& v) {
        if constexpr (std::is_same_v<T, bool>) v = r.readBool();
        else if constexpr (sizeof(T) == 1) v = static_cast<T>(r.readUInt8());
        else if constexpr (sizeof(T) == 2) v = static_cast<T>(r.readUInt16());
        else v = static_cast<T>(r.readUInt32());
    }
    static void saveConf(IConfWriter& w, T v) {
        if constexpr (std::is_same_v<T, bool>) w.writeBool(v);
        else w.writeInt(static_cast<int32_t>(v));
    }
    static void loadConf(IConfReader& r, T& v) {
        if constexpr (std::is_same_v<T, bool>) v = r.readBool();
        else v = static_cast<T>(r.readInt());
    }
};

}  // namespace trivane

#include "base/gcobject.h"

namespace trivane::gc {

// A counted pointer that reads and writes the object it designates; with no
// object there is nothing to read into and nothing is written.
template <class T>
class SerializePointer : public Pointer<T>, public ISerialize {
public:
    using Pointer<T>::Pointer;
    SerializePointer() = default;
    SerializePointer(const SerializePointer&) = default;
    SerializePointer& operator=(const SerializePointer&) = default;
    SerializePointer& operator=(T* object) {
        Pointer<T>::operator=(object);
        return *this;
    }

    void loadConf(IConfReader& reader) override {
        if (T* object = this->get()) object->loadConf(reader);
    }
    void loadStream(IReader& reader) override {
        if (T* object = this->get()) object->loadStream(reader);
    }
    void saveConf(IConfWriter& writer) override {
        if (T* object = this->get()) object->saveConf(writer);
    }
    void saveStream(IWriter& writer) override {
        if (T* object = this->get()) object->saveStream(writer);
    }
};

}  // namespace trivane::gc
