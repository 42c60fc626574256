// The value handle: construction, reading one value element, and the
// serialised form.
#include "xmlrpc/value.h"

#include "xmlrpc/objectvalue.h"
#include "xmlrpc/xml.h"

#include <cstring>

namespace trivane::xmlrpc {

Value::Value(int32_t value) : m_object(new IntegerValue(value)) {}
Value::Value(const String& value) : m_object(new StringValue(value)) {}
Value::Value(int32_t code, const String& message) : m_object(new FaultValue(code, message)) {}
Value::Value(const Array<Value>& elements) : m_object(new ArrayValue(elements)) {}
Value::Value(const String& text, uint32_t& pos) : Value() { fromXml(text, pos); }

Value Value::ofBool(bool value) { return Value(new BooleanValue(value)); }
Value Value::ofDouble(double value) { return Value(new DoubleValue(value)); }
Value Value::ofDateTime(const DateTimeFields& value) { return Value(new DateTimeValue(value)); }
Value Value::ofBinary(const Memory& bytes) { return Value(new Base64Value(bytes)); }

Value& Value::operator=(const String& value) {
    m_object = new StringValue(value);
    return *this;
}

Value& Value::operator=(int32_t value) {
    m_object = new IntegerValue(value);
    return *this;
}

namespace {

template <uint32_t N>
bool isTag(const String& text, uint32_t start, uint32_t length, const char (&tag)[N]) {
    return length == N - 1 && std::memcmp(text.data() + start, tag, N - 1) == 0;
}

// The object a type tag announces, or null for an unknown tag.
ObjectValue* objectForTag(const String& text, uint32_t start, uint32_t length, bool& emptyElement) {
    emptyElement = false;
    if (length == 0) return new StringValue();
    if (isTag(text, start, length, "<boolean>")) return new BooleanValue();
    if (isTag(text, start, length, "<i4>") || isTag(text, start, length, "<int>")) return new IntegerValue();
    if (isTag(text, start, length, "<double>")) return new DoubleValue();
    if (isTag(text, start, length, "<string>")) return new StringValue();
    if (isTag(text, start, length, "<dateTime.iso8601>")) return new DateTimeValue();
    if (isTag(text, start, length, "<array>")) return new ArrayValue();
    if (isTag(text, start, length, "<struct>")) return new StructValue();
    if (isTag(text, start, length, "<base64>")) return new Base64Value();
    if (isTag(text, start, length, "</value>")) {
        emptyElement = true;
        return new StringValue();
    }
    return nullptr;
}

}  // namespace

bool Value::read(XmlReader& reader, uint32_t& pos) {
    reset();
    uint32_t p = pos;
    if (!reader.skipPrefix("<value>", p)) return false;
    const uint32_t afterValue = p;
    uint32_t start = 0;
    const uint32_t length = reader.nextTag(p, start);
    bool emptyElement;
    gc::Pointer<ObjectValue> object(objectForTag(reader.text(), start, length, emptyElement));
    if (!object) return false;
    // An empty value element is an empty string, read from where it began.
    if (emptyElement) p = afterValue;
    if (!object->readXml(reader, p)) return false;
    reader.skipPastValueEnd(p);
    m_object = object.get();
    pos = p;
    return true;
}

bool Value::fromXml(const String& text, uint32_t& pos) {
    XmlReader reader(text);
    return read(reader, pos);
}

bool Value::faultFromXml(const String& text, uint32_t& pos) {
    reset();
    XmlReader reader(text);
    uint32_t p = pos;
    if (!reader.skipPrefix("<value>", p)) return false;
    uint32_t start = 0;
    const uint32_t length = reader.nextTag(p, start);
    if (!isTag(text, start, length, "<struct>")) return false;
    gc::Pointer<ObjectValue> fault(new FaultValue());
    if (!fault->readXml(reader, p)) return false;
    reader.skipPastValueEnd(p);
    m_object = fault.get();
    pos = p;
    return true;
}

void Value::loadConf(IConfReader& reader) {
    reset();
    if (!reader.hasMember("type"_s)) return;
    gc::Pointer<ObjectValue> object(newObjectValue(reader.member("type"_s).readInt()));
    if (!object) return;
    if (reader.hasMember("value"_s)) object->loadConf(reader.member("value"_s));
    m_object = object.get();
}

void Value::loadStream(IReader& reader) {
    reset();
    gc::Pointer<ObjectValue> object(newObjectValue(reader.readInt32()));
    if (!object) return;
    object->loadStream(reader);
    m_object = object.get();
}

void Value::saveConf(IConfWriter& writer) {
    writer.member("type"_s).writeInt(type());
    if (isValid()) m_object->saveConf(writer.member("value"_s));
}

void Value::saveStream(IWriter& writer) {
    writer.writeInt32(type());
    m_object->saveStream(writer);
}

}  // namespace trivane::xmlrpc
