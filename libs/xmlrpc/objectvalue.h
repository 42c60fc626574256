// The ten kinds of value object behind xmlrpc::Value.
#pragma once

#include "base/array.h"
#include "base/dict.h"
#include "xmlrpc/value.h"

namespace trivane::xmlrpc {

class InvalidValue final : public ObjectValue {
public:
    constexpr InvalidValue() noexcept : ObjectValue(TypeInvalid) {}
    // The one invalid object lives for the whole process.
    void onLastRelease() noexcept override {}
    const char* className() const noexcept override { return "xmlrpc.InvalidValue"; }
    ObjectValue* clone() const override;
    bool equals(const ObjectValue& other) const override;
    Value& item(Value& holder, const char* key) override;
    Value& item(Value& holder, const String& key) override;
    Value& item(Value& holder, int32_t index) override;
    void set(Value& holder, const char* key, const Value& value) override;
    void set(Value& holder, const String& key, const Value& value) override;
    void set(Value& holder, int32_t index, const Value& value) override;
    ArrayValue& asArray(Value& holder) override;
    StructValue& asStruct(Value& holder) override;
    using ObjectValue::asArray;
    using ObjectValue::asStruct;
    int32_t size() const override { return 0; }
    bool isEmpty() const override { return true; }
    void append(Value& holder, const Value& value) override;
    String toParamsXml() const override { return String(); }
    void writeXml(XmlWriter&) const override {}
    bool readXml(XmlReader&, uint32_t&) override { return false; }
    void loadConf(IConfReader&) override {}
    void loadStream(IReader&) override {}
    void saveConf(IConfWriter&) override {}
    void saveStream(IWriter&) override {}
};

class BooleanValue final : public ObjectValue {
public:
    explicit BooleanValue(bool value = false) noexcept : ObjectValue(TypeBoolean), m_value(value ? 1 : 0) {}
    const char* className() const noexcept override { return "xmlrpc.BooleanValue"; }
    ObjectValue* clone() const override { return new BooleanValue(m_value != 0); }
    bool equals(const ObjectValue& other) const override;
    bool asBool() const override { return m_value != 0; }
    bool isEmpty() const override { return m_value == 0; }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    uint8_t m_value;
};

class IntegerValue final : public ObjectValue {
public:
    explicit IntegerValue(int32_t value = 0) noexcept : ObjectValue(TypeInteger), m_value(value) {}
    const char* className() const noexcept override { return "xmlrpc.IntegerValue"; }
    ObjectValue* clone() const override { return new IntegerValue(m_value); }
    bool equals(const ObjectValue& other) const override;
    int32_t asInt() const override { return m_value; }
    bool isEmpty() const override { return m_value == 0; }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    int32_t m_value;
};

class DoubleValue final : public ObjectValue {
public:
    explicit DoubleValue(double value = 0.0) noexcept : ObjectValue(TypeDouble), m_value(value) {}
    const char* className() const noexcept override { return "xmlrpc.DoubleValue"; }
    ObjectValue* clone() const override { return new DoubleValue(m_value); }
    bool equals(const ObjectValue& other) const override;
    double asDouble() const override { return m_value; }
    bool isEmpty() const override { return m_value == 0.0; }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    double m_value;
};

class StringValue final : public ObjectValue {
public:
    explicit StringValue(const String& value = String()) noexcept : ObjectValue(TypeString), m_value(value) {}
    const char* className() const noexcept override { return "xmlrpc.StringValue"; }
    ObjectValue* clone() const override { return new StringValue(m_value); }
    bool equals(const ObjectValue& other) const override;
    int32_t asInt() const override { return m_value.toInt(10); }
    bool asBool() const override { return !m_value.isEmpty(); }
    String asString() const override { return m_value; }
    int32_t size() const override { return static_cast<int32_t>(m_value.length()); }
    bool isEmpty() const override { return m_value.isEmpty(); }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    String m_value;
};

class DateTimeValue final : public ObjectValue {
public:
    explicit DateTimeValue(const DateTimeFields& value = {}) noexcept : ObjectValue(TypeDateTime), m_value(value) {}
    const char* className() const noexcept override { return "xmlrpc.DateTimeValue"; }
    ObjectValue* clone() const override { return new DateTimeValue(m_value); }
    bool equals(const ObjectValue& other) const override;
    DateTimeFields asDateTime() const override { return m_value; }
    bool isEmpty() const override { return false; }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

    // "%4d%02d%02dT%02d:%02d:%02d"; the text form of values and of files.
    String text() const;
    // Reads year, month, day, hours, minutes and seconds by those field
    // widths; false unless all six are there.
    static bool parseText(const char* text, DateTimeFields& fields);

private:
    DateTimeFields m_value;
};

class Base64Value final : public ObjectValue {
public:
    explicit Base64Value(const Memory& value = Memory()) noexcept : ObjectValue(TypeBase64), m_value(value) {}
    const char* className() const noexcept override { return "xmlrpc.Base64Value"; }
    ObjectValue* clone() const override { return new Base64Value(m_value); }
    bool equals(const ObjectValue& other) const override;
    bool asBool() const override { return !m_value.isEmpty(); }
    Memory asBinary() const override { return m_value; }
    int32_t size() const override { return static_cast<int32_t>(m_value.length()); }
    bool isEmpty() const override { return m_value.isEmpty(); }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    Memory m_value;
};

// The element storage of an array value.
class ValueArray : public SerializeArray<Value> {
public:
    ValueArray() : SerializeArray<Value>("element"_s) {}
    // The element at `index`, creating storage and invalid elements up to it.
    Value& grow(uint32_t index);
    bool hasStorage() const { return begin() != nullptr; }
};

class ArrayValue final : public ObjectValue {
public:
    ArrayValue() noexcept : ObjectValue(TypeArray) {}
    explicit ArrayValue(const Array<Value>& elements);
    const char* className() const noexcept override { return "xmlrpc.ArrayValue"; }
    ObjectValue* clone() const override;
    bool equals(const ObjectValue& other) const override;
    const Value& get(const char* key) const override;
    const Value& get(const String& key) const override;
    const Value& get(int32_t index) const override;
    Value& item(Value& holder, const char* key) override;
    Value& item(Value& holder, const String& key) override;
    Value& item(Value& holder, int32_t index) override;
    void set(Value& holder, const char* key, const Value& value) override;
    void set(Value& holder, const String& key, const Value& value) override;
    void set(Value& holder, int32_t index, const Value& value) override;
    Value mid(int32_t first) const override;
    Value mid(int32_t first, int32_t count) const override;
    ArrayValue& asArray(Value&) override { return *this; }
    const ArrayValue& asArray() const override { return *this; }
    int32_t size() const override { return static_cast<int32_t>(m_items.count()); }
    bool isEmpty() const override { return m_items.isEmpty(); }
    void append(Value& holder, const Value& value) override;
    String toParamsXml() const override;
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

    const ValueArray& items() const { return m_items; }

private:
    // Element reads: an array that never had storage throws EBadItem.
    const Value& at(int32_t index) const;

    // Mutable: reading an element past the end extends the array.
    mutable ValueArray m_items;
};

// The member storage of a struct value: sorted by name, shorter names first.
class ValueDict : public SerializeStringDict<Value> {
public:
    ValueDict() : SerializeStringDict<Value>("element"_s, "key"_s, "value"_s) {}
    // Replaces the items with `sorted`, whose names are sorted and unique.
    void assignSorted(DictItem<String, Value>* sorted, uint32_t count);
    void insertAtSorted(uint32_t index, const String& name, const Value& value) {
        insertAt(index, DictItem<String, Value>{name, value});
    }
    uint32_t position(const String& name) const { return lowerBound(name); }
    Value& valueAt(uint32_t index) { return Array::item(index).value; }
};

class StructValue final : public ObjectValue {
public:
    StructValue() noexcept : ObjectValue(TypeStruct) {}
    const char* className() const noexcept override { return "xmlrpc.StructValue"; }
    ObjectValue* clone() const override;
    bool equals(const ObjectValue& other) const override;
    const Value& get(const char* key) const override;
    const Value& get(const String& key) const override;
    const Value& get(int32_t index) const override;
    Value& item(Value& holder, const char* key) override;
    Value& item(Value& holder, const String& key) override;
    Value& item(Value& holder, int32_t index) override;
    void set(Value& holder, const char* key, const Value& value) override;
    void set(Value& holder, const String& key, const Value& value) override;
    void set(Value& holder, int32_t index, const Value& value) override;
    StructValue& asStruct(Value&) override { return *this; }
    const StructValue& asStruct() const override { return *this; }
    int32_t size() const override { return static_cast<int32_t>(m_members.count()); }
    bool isEmpty() const override { return m_members.isEmpty(); }
    bool hasMember(const char* name) const override;
    bool hasMember(const String& name) const override;
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

    const ValueDict& members() const { return m_members; }
    // The member of that name, inserted as invalid when absent; `name` is
    // copied when it is inserted.
    Value& member(const String& name);

private:
    const Value& lookup(const String& name) const;

    ValueDict m_members;
};

class FaultValue final : public ObjectValue {
public:
    FaultValue(int32_t code = 0, const String& message = String()) noexcept
        : ObjectValue(TypeFault), m_code(code), m_message(message) {}
    const char* className() const noexcept override { return "xmlrpc.FaultValue"; }
    ObjectValue* clone() const override { return new FaultValue(m_code, m_message); }
    bool equals(const ObjectValue& other) const override;
    String asString() const override;
    bool isEmpty() const override { return m_code == 0 && m_message.isEmpty(); }
    void writeXml(XmlWriter& out) const override;
    bool readXml(XmlReader& reader, uint32_t& pos) override;
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

    int32_t code() const noexcept { return m_code; }
    const String& message() const noexcept { return m_message; }

private:
    int32_t m_code;
    String m_message;
};

// A new empty object of a kind (1 to 9), or null for any other code.
ObjectValue* newObjectValue(int32_t type);

}  // namespace trivane::xmlrpc
