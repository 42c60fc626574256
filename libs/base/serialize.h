// The serialisation interfaces: named members for configurations, and
// positional values for binary streams such as files.
#pragma once

#include "base/memory.h"
#include "base/string.h"

#include <cstdint>

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

// A source of named members, each itself a reader of its value.
class IConfReader {
public:
    virtual ~IConfReader() = default;
    virtual bool hasMember(const String& name) = 0;
    // The member of that name; absent members throw EConfMissingKey.
    virtual IConfReader& member(const String& name) = 0;
    virtual int32_t readInt() = 0;
    virtual bool readBool() = 0;
    virtual String readString() = 0;
    virtual void readObject(ISerialize& object) { object.loadConf(*this); }
};

class IConfWriter {
public:
    virtual ~IConfWriter() = default;
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

}  // namespace trivane
