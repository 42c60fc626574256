// The value kinds: conversions, containers, equality, their XML text and
// their serialised form.
#include "xmlrpc/objectvalue.h"

#include "base/console.h"
#include "xmlrpc/xml.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace trivane::xmlrpc {

namespace {

// The invalid object outlives every handle: it is constant-initialised and
// never destroyed.
union InvalidStorage {
    constexpr InvalidStorage() : object() {}
    ~InvalidStorage() {}
    InvalidValue object;
};
constinit InvalidStorage s_invalid;

[[noreturn]] void badItem(const char* module, uint32_t line) {
    throw EBadItem("EBadItem"_s, String(module, static_cast<uint32_t>(std::strlen(module))), line);
}

inline bool isSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

String wrap(const char* cText) { return String(cText, static_cast<uint32_t>(std::strlen(cText))); }

// A decimal number read as strtol reads it (white space, a sign, digits),
// clamped to the 32-bit range; false when no digit follows.
bool readDecimal(const String& text, uint32_t& pos, int32_t& value) {
    const char* data = text.data();
    const uint32_t n = text.length();
    uint32_t p = pos;
    while (p < n && isSpace(data[p])) ++p;
    bool negative = false;
    if (p < n && (data[p] == '+' || data[p] == '-')) negative = data[p++] == '-';
    if (p == n || data[p] < '0' || data[p] > '9') return false;
    const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : INT32_MAX;
    int64_t magnitude = 0;
    for (; p < n && data[p] >= '0' && data[p] <= '9'; ++p)
        if (magnitude < limit) magnitude = std::min<int64_t>(magnitude * 10 + (data[p] - '0'), limit);
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    pos = p;
    return true;
}

// A number read by strtod, which needs a terminated copy of the bytes that
// may belong to a number.
bool readDouble(const String& text, uint32_t& pos, double& value) {
    const char* data = text.data();
    const uint32_t n = text.length();
    uint32_t p = pos;
    while (p < n && isSpace(data[p])) ++p;
    uint32_t end = p;
    while (end < n) {
        const char c = data[end];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '+' ||
              c == '-' || c == '(' || c == ')' || c == '_'))
            break;
        ++end;
    }
    if (end == p) return false;
    const std::string number(data + p, end - p);
    char* stop = nullptr;
    const double parsed = std::strtod(number.c_str(), &stop);
    if (stop == number.c_str()) return false;
    value = parsed;
    pos = p + static_cast<uint32_t>(stop - number.c_str());
    return true;
}

// The text up to the next "<"; false when none follows.
bool textUpToTag(XmlReader& reader, uint32_t pos, String& piece, uint32_t& end) {
    end = reader.nextOpen(pos);
    if (end == String::npos) return false;
    piece = reader.text().mid(pos, end - pos);
    return true;
}

// Counts one level of array or struct nesting for as long as it lives.
class Nesting {
public:
    explicit Nesting(XmlReader& reader) noexcept : m_reader(reader), m_allowed(reader.enter()) {}
    ~Nesting() { m_reader.leave(); }
    explicit operator bool() const noexcept { return m_allowed; }

private:
    XmlReader& m_reader;
    bool m_allowed;
};

void writeDouble(IWriter& writer, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writer.writeUInt32(static_cast<uint32_t>(bits));
    writer.writeUInt32(static_cast<uint32_t>(bits >> 32));
}

double readDouble(IReader& reader) {
    const uint64_t low = reader.readUInt32();
    const uint64_t bits = low | uint64_t(reader.readUInt32()) << 32;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

constinit ObjectValue* const detail::s_invalidObject = &s_invalid.object;

ObjectValue* newObjectValue(int32_t type) {
    switch (type) {
        case TypeInteger: return new IntegerValue();
        case TypeDouble: return new DoubleValue();
        case TypeBoolean: return new BooleanValue();
        case TypeString: return new StringValue();
        case TypeDateTime: return new DateTimeValue();
        case TypeArray: return new ArrayValue();
        case TypeStruct: return new StructValue();
        case TypeBase64: return new Base64Value();
        case TypeFault: return new FaultValue();
        default: return nullptr;
    }
}

// ObjectValue: every unsupported operation names its slot's line.

void ObjectValue::badType(uint32_t line) { throw EBadType("EBadType"_s, "objectvalue"_s, line); }

void ObjectValue::designate(Value& holder, ObjectValue* object) noexcept { holder.m_object = object; }

int32_t ObjectValue::asInt() const { badType(21); }
double ObjectValue::asDouble() const { badType(25); }
bool ObjectValue::asBool() const { badType(29); }
String ObjectValue::asString() const { badType(33); }
Memory ObjectValue::asBinary() const { badType(37); }
DateTimeFields ObjectValue::asDateTime() const { badType(41); }
const Value& ObjectValue::get(int32_t) const { badType(45); }
const Value& ObjectValue::get(const String&) const { badType(49); }
const Value& ObjectValue::get(const char*) const { badType(53); }
Value& ObjectValue::item(Value&, int32_t) { badType(57); }
Value& ObjectValue::item(Value&, const String&) { badType(61); }
Value& ObjectValue::item(Value&, const char*) { badType(65); }
void ObjectValue::set(Value&, int32_t, const Value&) { badType(69); }
void ObjectValue::set(Value&, const String&, const Value&) { badType(73); }
void ObjectValue::set(Value&, const char*, const Value&) { badType(77); }
void ObjectValue::append(Value&, const Value&) { badType(81); }
int32_t ObjectValue::size() const { badType(85); }
Value ObjectValue::mid(int32_t, int32_t) const { badType(89); }
Value ObjectValue::mid(int32_t) const { badType(93); }
ArrayValue& ObjectValue::asArray(Value&) { badType(97); }
StructValue& ObjectValue::asStruct(Value&) { badType(101); }
const ArrayValue& ObjectValue::asArray() const { badType(105); }
const StructValue& ObjectValue::asStruct() const { badType(109); }
bool ObjectValue::hasMember(const char*) const { return false; }
bool ObjectValue::hasMember(const String&) const { return false; }

String ObjectValue::toParamsXml() const {
    XmlWriter out;
    out.put("<param>");
    writeXml(out);
    out.put("</param>");
    return out.text();
}

String ObjectValue::toXml() const {
    XmlWriter out;
    writeXml(out);
    return out.text();
}

bool ObjectValue::fromXml(const String& text, uint32_t& pos) {
    XmlReader reader(text);
    return readXml(reader, pos);
}

// Invalid: the containers' operations turn the holder into a container.

ObjectValue* InvalidValue::clone() const { return invalidObject(); }
bool InvalidValue::equals(const ObjectValue& other) const { return other.type() == TypeInvalid; }

Value& InvalidValue::item(Value& holder, const char* key) { return asStruct(holder).item(holder, key); }
Value& InvalidValue::item(Value& holder, const String& key) { return asStruct(holder).item(holder, key); }
Value& InvalidValue::item(Value& holder, int32_t index) { return asArray(holder).item(holder, index); }
void InvalidValue::set(Value& holder, const char* key, const Value& value) { asStruct(holder).set(holder, key, value); }
void InvalidValue::set(Value& holder, const String& key, const Value& value) {
    asStruct(holder).set(holder, key, value);
}
void InvalidValue::set(Value& holder, int32_t index, const Value& value) { asArray(holder).set(holder, index, value); }
void InvalidValue::append(Value& holder, const Value& value) { asArray(holder).append(holder, value); }

ArrayValue& InvalidValue::asArray(Value& holder) {
    auto* array = new ArrayValue();
    designate(holder, array);
    return *array;
}

StructValue& InvalidValue::asStruct(Value& holder) {
    auto* members = new StructValue();
    designate(holder, members);
    return *members;
}

// Scalars.

bool BooleanValue::equals(const ObjectValue& other) const {
    return other.type() == TypeBoolean && static_cast<const BooleanValue&>(other).m_value == m_value;
}

void BooleanValue::writeXml(XmlWriter& out) const {
    if (m_value) out.put("<value><boolean>1</boolean></value>");
    else out.put("<value><boolean>0</boolean></value>");
}

bool BooleanValue::readXml(XmlReader& reader, uint32_t& pos) {
    int32_t value;
    uint32_t p = pos;
    if (!readDecimal(reader.text(), p, value) || (value != 0 && value != 1)) return false;
    m_value = static_cast<uint8_t>(value);
    pos = p;
    return true;
}

void BooleanValue::loadConf(IConfReader& reader) {
    if (reader.hasMember("boolean"_s)) m_value = reader.member("boolean"_s).readBool() ? 1 : 0;
}
void BooleanValue::loadStream(IReader& reader) { m_value = reader.readUInt8() != 0 ? 1 : 0; }
void BooleanValue::saveConf(IConfWriter& writer) { writer.member("boolean"_s).writeBool(m_value != 0); }
void BooleanValue::saveStream(IWriter& writer) { writer.writeUInt8(m_value); }

bool IntegerValue::equals(const ObjectValue& other) const {
    return other.type() == TypeInteger && static_cast<const IntegerValue&>(other).m_value == m_value;
}

void IntegerValue::writeXml(XmlWriter& out) const {
    out.put("<value><i4>");
    out.putInt(m_value);
    out.put("</i4></value>");
}

bool IntegerValue::readXml(XmlReader& reader, uint32_t& pos) { return readDecimal(reader.text(), pos, m_value); }

void IntegerValue::loadConf(IConfReader& reader) {
    if (reader.hasMember("integer"_s)) m_value = reader.member("integer"_s).readInt();
}
void IntegerValue::loadStream(IReader& reader) { m_value = reader.readInt32(); }
void IntegerValue::saveConf(IConfWriter& writer) { writer.member("integer"_s).writeInt(m_value); }
void IntegerValue::saveStream(IWriter& writer) { writer.writeInt32(m_value); }

bool DoubleValue::equals(const ObjectValue& other) const {
    return other.type() == TypeDouble && static_cast<const DoubleValue&>(other).m_value == m_value;
}

void DoubleValue::writeXml(XmlWriter& out) const {
    out.put("<value><double>");
    out.putDouble(m_value);
    out.put("</double></value>");
}

bool DoubleValue::readXml(XmlReader& reader, uint32_t& pos) { return readDouble(reader.text(), pos, m_value); }

// Configurations hold no doubles: the shortest text that reads back exactly.
void DoubleValue::loadConf(IConfReader& reader) {
    if (!reader.hasMember("double"_s)) return;
    String text = reader.member("double"_s).readString();
    m_value = std::strtod(text.cStr(), nullptr);
}
void DoubleValue::loadStream(IReader& reader) { m_value = readDouble(reader); }
void DoubleValue::saveConf(IConfWriter& writer) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%.17g", m_value);
    writer.member("double"_s).writeString(String(buffer, static_cast<uint32_t>(n)).clone());
}
void DoubleValue::saveStream(IWriter& writer) { writeDouble(writer, m_value); }

bool StringValue::equals(const ObjectValue& other) const {
    return other.type() == TypeString && static_cast<const StringValue&>(other).m_value == m_value;
}

void StringValue::writeXml(XmlWriter& out) const {
    out.put("<value>");
    out.putEscaped(m_value);
    out.put("</value>");
}

bool StringValue::readXml(XmlReader& reader, uint32_t& pos) {
    String piece;
    uint32_t end;
    if (!textUpToTag(reader, pos, piece, end)) {
        log(LogTrace, "xmlrpc.StringValue", "fromXml", "no end tag");
        return false;
    }
    m_value = xmlUnescape(piece);
    pos = end;
    return true;
}

void StringValue::loadConf(IConfReader& reader) {
    if (reader.hasMember("string"_s)) m_value = reader.member("string"_s).readString();
}
void StringValue::loadStream(IReader& reader) { m_value = reader.readString(); }
void StringValue::saveConf(IConfWriter& writer) { writer.member("string"_s).writeString(m_value); }
void StringValue::saveStream(IWriter& writer) { writer.writeString(m_value); }

bool DateTimeValue::equals(const ObjectValue& other) const {
    return other.type() == TypeDateTime && static_cast<const DateTimeValue&>(other).m_value == m_value;
}

String DateTimeValue::text() const {
    char buffer[80];
    const int n = std::snprintf(buffer, sizeof buffer, "%4d%02d%02dT%02d:%02d:%02d", m_value.year, m_value.month,
                                m_value.day, m_value.hours, m_value.minutes, m_value.seconds);
    return String(buffer, static_cast<uint32_t>(n)).clone();
}

bool DateTimeValue::parseText(const char* text, DateTimeFields& fields) {
    DateTimeFields read;
    if (std::sscanf(text, "%4d%2d%2dT%2d:%2d:%2d", &read.year, &read.month, &read.day, &read.hours, &read.minutes,
                    &read.seconds) != 6)
        return false;
    read.weekDay = 0;
    read.yearDay = 0;
    read.daylight = -1;
    fields = read;
    return true;
}

void DateTimeValue::writeXml(XmlWriter& out) const {
    out.put("<value><dateTime.iso8601>");
    out.put(text());
    out.put("</dateTime.iso8601></value>");
}

bool DateTimeValue::readXml(XmlReader& reader, uint32_t& pos) {
    String piece;
    uint32_t end;
    if (!textUpToTag(reader, pos, piece, end)) return false;
    const std::string copy(piece.data(), piece.length());
    if (!parseText(copy.c_str(), m_value)) return false;
    pos = end;
    return true;
}

void DateTimeValue::loadConf(IConfReader& reader) {
    if (!reader.hasMember("datetime"_s)) return;
    String text = reader.member("datetime"_s).readString();
    parseText(text.cStr(), m_value);
}
void DateTimeValue::loadStream(IReader& reader) {
    String text = reader.readString();
    parseText(text.cStr(), m_value);
}
void DateTimeValue::saveConf(IConfWriter& writer) { writer.member("datetime"_s).writeString(text()); }
void DateTimeValue::saveStream(IWriter& writer) { writer.writeString(text()); }

bool Base64Value::equals(const ObjectValue& other) const {
    return other.type() == TypeBase64 && static_cast<const Base64Value&>(other).m_value == m_value;
}

void Base64Value::writeXml(XmlWriter& out) const {
    out.put("<value><base64>");
    out.put(base64Encode(m_value.data(), m_value.length()));
    out.put("</base64></value>");
}

bool Base64Value::readXml(XmlReader& reader, uint32_t& pos) {
    String piece;
    uint32_t end;
    if (!textUpToTag(reader, pos, piece, end)) {
        log(LogTrace, "xmlrpc.Base64Value", "fromXml", "no end tag");
        return false;
    }
    m_value = base64Decode(xmlUnescape(piece));
    pos = end;
    return true;
}

// Configurations hold no byte buffers: the bytes go as base64 text.
void Base64Value::loadConf(IConfReader& reader) {
    if (reader.hasMember("base64"_s)) m_value = base64Decode(reader.member("base64"_s).readString());
}
void Base64Value::loadStream(IReader& reader) { m_value = reader.readMemory(); }
void Base64Value::saveConf(IConfWriter& writer) {
    writer.member("base64"_s).writeString(base64Encode(m_value.data(), m_value.length()));
}
void Base64Value::saveStream(IWriter& writer) { writer.writeMemory(m_value); }

// Arrays.

Value& ValueArray::grow(uint32_t index) {
    if (index >= 0x80000000u) TRIVANE_THROW(EBadItem);
    ArrayBlock<Value>& block = writableOrNew();
    if (index >= block.m_count) {
        block.reserve(checkedSize(uint64_t(index) + 1));
        block.m_count = index + 1;
    }
    return block.m_items[index];
}

ArrayValue::ArrayValue(const Array<Value>& elements) : ObjectValue(TypeArray) {
    static_cast<Array<Value>&>(m_items) = elements;
}

ObjectValue* ArrayValue::clone() const { return new ArrayValue(m_items); }

bool ArrayValue::equals(const ObjectValue& other) const {
    if (other.type() != TypeArray) return false;
    const ValueArray& theirs = static_cast<const ArrayValue&>(other).m_items;
    const uint32_t n = m_items.count();
    if (theirs.count() != n) return false;
    const Value* a = m_items.begin();
    const Value* b = theirs.begin();
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

const Value& ArrayValue::at(int32_t index) const {
    if (!m_items.hasStorage() || index < 0) badItem("array", 655);
    return m_items.grow(static_cast<uint32_t>(index));
}

const Value& ArrayValue::get(const char* key) const { return at(String::toInt(key, 10)); }
const Value& ArrayValue::get(const String& key) const { return at(key.toInt(10)); }
const Value& ArrayValue::get(int32_t index) const { return at(index); }

Value& ArrayValue::item(Value& holder, const char* key) { return item(holder, String::toInt(key, 10)); }
Value& ArrayValue::item(Value& holder, const String& key) { return item(holder, key.toInt(10)); }
Value& ArrayValue::item(Value&, int32_t index) { return m_items.grow(static_cast<uint32_t>(index)); }

void ArrayValue::set(Value& holder, const char* key, const Value& value) { set(holder, String::toInt(key, 10), value); }
void ArrayValue::set(Value& holder, const String& key, const Value& value) { set(holder, key.toInt(10), value); }
void ArrayValue::set(Value& holder, int32_t index, const Value& value) {
    // The value may be an element of this array, which growing moves.
    const Value keep = value;
    item(holder, index) = keep;
}

void ArrayValue::append(Value&, const Value& value) {
    const Value keep = value;
    m_items.append(keep);
}

Value ArrayValue::mid(int32_t first) const { return mid(first, INT32_MAX); }

Value ArrayValue::mid(int32_t first, int32_t count) const {
    const int32_t n = size();
    if (first < 0 || first >= n) return Value();
    auto* part = new ArrayValue();
    Value result;
    designate(result, part);
    const int32_t last = count <= 0 ? first : first + std::min(count, n - first);
    for (int32_t i = first; i < last; ++i) part->m_items.append(m_items.at(static_cast<uint32_t>(i)));
    return result;
}

String ArrayValue::toParamsXml() const {
    XmlWriter out;
    for (const Value& element : m_items) {
        out.put("<param>");
        element.writeXml(out);
        out.put("</param>");
    }
    return out.text();
}

void ArrayValue::writeXml(XmlWriter& out) const {
    out.put("<value><array><data>");
    for (const Value& element : m_items) element.writeXml(out);
    out.put("</data></array></value>");
}

bool ArrayValue::readXml(XmlReader& reader, uint32_t& pos) {
    Nesting nesting(reader);
    if (!nesting) return false;
    uint32_t p = pos;
    if (!reader.skipPrefix("<data>", p)) return false;
    Value element;
    while (element.read(reader, p)) m_items.append(element);
    if (reader.tooDeep()) return false;
    reader.skipPrefix("</data>", p);
    pos = p;
    return true;
}

void ArrayValue::loadConf(IConfReader& reader) {
    if (reader.hasMember("array"_s)) m_items.loadConf(reader.member("array"_s));
}
void ArrayValue::loadStream(IReader& reader) { m_items.loadStream(reader); }
void ArrayValue::saveConf(IConfWriter& writer) { m_items.saveConf(writer.member("array"_s)); }
void ArrayValue::saveStream(IWriter& writer) { m_items.saveStream(writer); }

// Structs.

void ValueDict::assignSorted(DictItem<String, Value>* sorted, uint32_t count) {
    clear();
    if (count == 0) return;
    writableOrNew().reserve(count);
    for (uint32_t i = 0; i < count; ++i) append(sorted[i]);
}

ObjectValue* StructValue::clone() const {
    auto* copy = new StructValue();
    static_cast<Array<DictItem<String, Value>>&>(copy->m_members) = m_members;
    return copy;
}

bool StructValue::equals(const ObjectValue& other) const {
    if (other.type() != TypeStruct) return false;
    const ValueDict& theirs = static_cast<const StructValue&>(other).m_members;
    const uint32_t n = m_members.count();
    if (theirs.count() != n) return false;
    const auto* a = m_members.begin();
    const auto* b = theirs.begin();
    for (uint32_t i = 0; i < n; ++i)
        if (!(a[i].key == b[i].key) || a[i].value != b[i].value) return false;
    return true;
}

const Value& StructValue::lookup(const String& name) const {
    const uint32_t i = m_members.find(name);
    if (i == m_members.count()) badItem("dict", 82);
    return m_members.itemAt(i).value;
}

Value& StructValue::member(const String& name) {
    uint32_t i = m_members.find(name);
    if (i == m_members.count()) {
        i = m_members.position(name);
        m_members.insertAtSorted(i, name, Value());
    }
    return m_members.valueAt(i);
}

const Value& StructValue::get(const char* key) const { return lookup(wrap(key)); }
const Value& StructValue::get(const String& key) const { return lookup(key); }
const Value& StructValue::get(int32_t index) const { return lookup(String::fromInt(index)); }

Value& StructValue::item(Value&, const char* key) {
    const String name = wrap(key);
    if (hasMember(name)) return member(name);
    return member(name.clone());
}
Value& StructValue::item(Value&, const String& key) { return member(key); }
Value& StructValue::item(Value&, int32_t index) { return member(String::fromInt(index)); }

void StructValue::set(Value& holder, const char* key, const Value& value) {
    const Value keep = value;
    item(holder, key) = keep;
}
void StructValue::set(Value&, const String& key, const Value& value) {
    const Value keep = value;
    member(key) = keep;
}
void StructValue::set(Value&, int32_t index, const Value& value) {
    const Value keep = value;
    member(String::fromInt(index)) = keep;
}

bool StructValue::hasMember(const char* name) const { return hasMember(wrap(name)); }
bool StructValue::hasMember(const String& name) const { return m_members.find(name) != m_members.count(); }

void StructValue::writeXml(XmlWriter& out) const {
    out.put("<value><struct>");
    for (const auto& pair : m_members) {
        out.put("<member><name>");
        out.putEscaped(pair.key);
        out.put("</name>");
        pair.value.writeXml(out);
        out.put("</member>");
    }
    out.put("</struct></value>");
}

bool StructValue::readXml(XmlReader& reader, uint32_t& pos) {
    Nesting nesting(reader);
    if (!nesting) return false;
    std::vector<DictItem<String, Value>>& stack = reader.memberStack();
    const size_t base = stack.size();
    uint32_t p = pos;
    while (reader.skipPrefix("<member>", p)) {
        DictItem<String, Value> member;
        if (reader.nameBetween(p, member.key)) member.key = xmlUnescape(member.key);
        if (!member.value.read(reader, p)) {
            stack.resize(base);
            return false;
        }
        stack.push_back(std::move(member));
        reader.skipPrefix("</member>", p);
    }
    // Sorting once keeps a large struct linear in reading; of members with
    // the same name the last one read wins.
    auto* read = stack.data() + base;
    const size_t count = stack.size() - base;
    auto byName = [](const DictItem<String, Value>& a, const DictItem<String, Value>& b) { return a.key < b.key; };
    if (count <= 16) {
        for (size_t i = 1; i < count; ++i)
            for (size_t j = i; j > 0 && byName(read[j], read[j - 1]); --j) std::swap(read[j], read[j - 1]);
    } else {
        std::stable_sort(read, read + count, byName);
    }
    uint32_t unique = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i + 1 < count && read[i].key == read[i + 1].key) continue;
        if (unique != i) std::swap(read[unique], read[i]);
        ++unique;
    }
    if (m_members.isEmpty()) {
        m_members.assignSorted(read, unique);
    } else {
        for (uint32_t i = 0; i < unique; ++i) member(read[i].key) = read[i].value;
    }
    stack.resize(base);
    pos = p;
    return true;
}

void StructValue::loadConf(IConfReader& reader) {
    if (reader.hasMember("struct"_s)) m_members.loadConf(reader.member("struct"_s));
}
void StructValue::loadStream(IReader& reader) { m_members.loadStream(reader); }
void StructValue::saveConf(IConfWriter& writer) { m_members.saveConf(writer.member("struct"_s)); }
void StructValue::saveStream(IWriter& writer) { m_members.saveStream(writer); }

// Faults.

bool FaultValue::equals(const ObjectValue& other) const {
    if (other.type() != TypeFault) return false;
    const auto& theirs = static_cast<const FaultValue&>(other);
    return theirs.m_code == m_code && theirs.m_message == m_message;
}

String FaultValue::asString() const { return String::fromInt(m_code) + ": " + m_message; }

void FaultValue::writeXml(XmlWriter& out) const {
    out.put("<value><struct><member><name>faultCode</name><value><i4>");
    out.putInt(m_code);
    out.put("</i4></value></member><member><name>faultString</name><value>");
    out.putEscaped(m_message);
    out.put("</value></member></struct></value>");
}

bool FaultValue::readXml(XmlReader& reader, uint32_t& pos) {
    StructValue members;
    uint32_t p = pos;
    if (!members.readXml(reader, p)) return false;
    m_code = members.get("faultCode").asInt();
    m_message = members.get("faultString").asString();
    pos = p;
    return true;
}

void FaultValue::loadConf(IConfReader& reader) {
    if (reader.hasMember("code"_s)) m_code = reader.member("code"_s).readInt();
    if (reader.hasMember("msg"_s)) m_message = reader.member("msg"_s).readString();
}
void FaultValue::loadStream(IReader& reader) {
    m_code = reader.readInt32();
    m_message = reader.readString();
}
void FaultValue::saveConf(IConfWriter& writer) {
    writer.member("code"_s).writeInt(m_code);
    writer.member("msg"_s).writeString(m_message);
}
void FaultValue::saveStream(IWriter& writer) {
    writer.writeInt32(m_code);
    writer.writeString(m_message);
}

}  // namespace trivane::xmlrpc
