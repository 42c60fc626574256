// The positional value encoding.
#include "base/serialize.h"

namespace trivane {

uint8_t IReader::readUInt8() {
    uint8_t b;
    read(&b, 1);
    return b;
}

uint16_t IReader::readUInt16() {
    uint8_t b[2];
    read(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t IReader::readUInt32() {
    uint8_t b[4];
    read(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool IReader::readBool() { return readUInt16() != 0; }

String IReader::readString() {
    const uint32_t count = readCount();
    String s;
    if (count == 0) return s;
    read(s.reserve(count), count);
    s.setLength(count);
    return s;
}

Memory IReader::readMemory() {
    const uint32_t count = readCount();
    Memory m;
    if (count == 0) return m;
    read(m.reserve(count), count);
    m.setLength(count);
    return m;
}

void IWriter::writeUInt8(uint8_t value) { write(&value, 1); }

void IWriter::writeUInt16(uint16_t value) {
    const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    write(b, 2);
}

void IWriter::writeUInt32(uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    write(b, 4);
}

void IWriter::writeBool(bool value) { writeUInt16(value ? 1 : 0); }

void IWriter::writeString(const String& value) {
    writeUInt32(value.length());
    if (value.length()) write(value.data(), value.length());
}

void IWriter::writeMemory(const Memory& value) {
    writeUInt32(value.length());
    if (value.length()) write(value.data(), value.length());
}

}  // namespace trivane
