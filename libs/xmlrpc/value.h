// XML-RPC values: a handle designating one shared, counted, typed value
// object. Copying a handle shares the object; payloads are never copied.
#pragma once

#include "base/array.h"
#include "base/exception.h"
#include "base/gcobject.h"
#include "base/memory.h"
#include "base/serialize.h"
#include "base/string.h"

#include <cstdint>
#include <utility>

namespace trivane::xmlrpc {

TRIVANE_DECLARE_EXCEPTION(EXmlRpc, Exception);
TRIVANE_DECLARE_EXCEPTION(EValue, EXmlRpc);
TRIVANE_DECLARE_EXCEPTION(EBadType, EValue);

// Kind codes, as returned by type() and written by the serialised form.
enum ValueType : int32_t {
    TypeInvalid = 0,
    TypeInteger = 1,
    TypeDouble = 2,
    TypeBoolean = 3,
    TypeString = 4,
    TypeDateTime = 5,
    TypeArray = 6,
    TypeStruct = 7,
    TypeBase64 = 8,
    TypeFault = 9,
};

// A calendar time as written in the text form: the full year, months 1 to
// 12. Field order is that of the C broken-down time.
struct DateTimeFields {
    int32_t seconds = 0;
    int32_t minutes = 0;
    int32_t hours = 0;
    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
    int32_t weekDay = 0;
    int32_t yearDay = 0;
    int32_t daylight = 0;

    friend bool operator==(const DateTimeFields&, const DateTimeFields&) = default;
};

class Value;
class ArrayValue;
class StructValue;
class XmlReader;
class XmlWriter;

// The typed object behind a Value. Operations a kind does not support throw
// EBadType; those that may change the holder's kind receive the holder.
class ObjectValue : public gc::ObjectDelete, public ISerialize {
public:
    explicit constexpr ObjectValue(int32_t type) noexcept : m_type(type) {}

    int32_t type() const noexcept { return m_type; }

    virtual ObjectValue* clone() const = 0;
    virtual bool equals(const ObjectValue& other) const = 0;
    virtual int32_t asInt() const;
    virtual double asDouble() const;
    virtual bool asBool() const;
    virtual String asString() const;
    virtual Memory asBinary() const;
    virtual DateTimeFields asDateTime() const;
    virtual const Value& get(const char* key) const;
    virtual const Value& get(const String& key) const;
    virtual const Value& get(int32_t index) const;
    virtual Value& item(Value& holder, const char* key);
    virtual Value& item(Value& holder, const String& key);
    virtual Value& item(Value& holder, int32_t index);
    virtual void set(Value& holder, const char* key, const Value& value);
    virtual void set(Value& holder, const String& key, const Value& value);
    virtual void set(Value& holder, int32_t index, const Value& value);
    virtual Value mid(int32_t first) const;
    virtual Value mid(int32_t first, int32_t count) const;
    virtual ArrayValue& asArray(Value& holder);
    virtual const ArrayValue& asArray() const;
    virtual StructValue& asStruct(Value& holder);
    virtual const StructValue& asStruct() const;
    virtual int32_t size() const;
    virtual bool isEmpty() const = 0;
    virtual bool hasMember(const char* name) const;
    virtual bool hasMember(const String& name) const;
    virtual void append(Value& holder, const Value& value);
    virtual String toParamsXml() const;

    // One value element.
    String toXml() const;
    virtual void writeXml(XmlWriter& out) const = 0;
    // Reads this kind's payload from just after its type tag; false, with
    // the position unchanged, when the text is malformed.
    bool fromXml(const String& text, uint32_t& pos);
    virtual bool readXml(XmlReader& reader, uint32_t& pos) = 0;

protected:
    // "EBadType" with file "objectvalue" and the slot's line.
    [[noreturn]] static void badType(uint32_t line);
    static void designate(Value& holder, ObjectValue* object) noexcept;

private:
    int32_t m_type;
};

namespace detail {
extern ObjectValue* const s_invalidObject;
}
// The shared invalid object: never destroyed, every unset handle designates it.
inline ObjectValue* invalidObject() noexcept { return detail::s_invalidObject; }

// A handle; never null. One handle is used by one thread at a time.
class Value : public ISerialize {
public:
    Value() noexcept : m_object(invalidObject()) {}
    Value(int32_t value);
    Value(const String& value);
    Value(const char* value) : Value(String(value)) {}
    // A fault.
    Value(int32_t code, const String& message);
    // An array holding a copy of the element array.
    Value(const Array<Value>& elements);
    // Starts invalid, then reads one value element at `pos`.
    Value(const String& text, uint32_t& pos);
    Value(const Value& other) noexcept : m_object(other.m_object) {}
    Value(Value&& other) noexcept : m_object(std::move(other.m_object)) { other.m_object = invalidObject(); }
    // Booleans and doubles have factories: an implicit conversion to an
    // integer would change the kind silently.
    Value(bool) = delete;
    Value(double) = delete;
    ~Value() override = default;

    static Value ofBool(bool value);
    static Value ofDouble(double value);
    static Value ofDateTime(const DateTimeFields& value);
    static Value ofBinary(const Memory& bytes);

    Value& operator=(const Value& other) noexcept {
        m_object = other.m_object;
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        m_object.swapWith(other.m_object);
        return *this;
    }
    Value& operator=(const String& value);
    Value& operator=(const char* value) { return *this = String(value); }
    Value& operator=(int32_t value);

    int32_t type() const noexcept { return m_object->type(); }
    bool isValid() const noexcept { return type() != TypeInvalid; }
    bool isFault() const noexcept { return type() == TypeFault; }
    void reset() noexcept {
        if (m_object.get() != invalidObject()) m_object = invalidObject();
    }
    const ObjectValue* object() const noexcept { return m_object.get(); }

    int32_t asInt() const { return m_object->asInt(); }
    double asDouble() const { return m_object->asDouble(); }
    bool asBool() const { return m_object->asBool(); }
    String asString() const { return m_object->asString(); }
    Memory asBinary() const { return m_object->asBinary(); }
    DateTimeFields asDateTime() const { return m_object->asDateTime(); }

    const Value& get(const char* key) const { return m_object->get(key); }
    const Value& get(const String& key) const { return m_object->get(key); }
    const Value& get(int32_t index) const { return m_object->get(index); }
    Value& item(const char* key) { return m_object->item(*this, key); }
    Value& item(const String& key) { return m_object->item(*this, key); }
    Value& item(int32_t index) { return m_object->item(*this, index); }
    Value& operator[](const char* key) { return item(key); }
    Value& operator[](const String& key) { return item(key); }
    Value& operator[](int32_t index) { return item(index); }
    void set(const char* key, const Value& value) { m_object->set(*this, key, value); }
    void set(const String& key, const Value& value) { m_object->set(*this, key, value); }
    void set(int32_t index, const Value& value) { m_object->set(*this, index, value); }
    Value mid(int32_t first) const { return m_object->mid(first); }
    Value mid(int32_t first, int32_t count) const { return m_object->mid(first, count); }
    ArrayValue& asArray() { return m_object->asArray(*this); }
    const ArrayValue& asArray() const { return static_cast<const ObjectValue&>(*m_object).asArray(); }
    StructValue& asStruct() { return m_object->asStruct(*this); }
    const StructValue& asStruct() const { return static_cast<const ObjectValue&>(*m_object).asStruct(); }
    int32_t size() const { return m_object->size(); }
    bool isEmpty() const { return m_object->isEmpty(); }
    bool hasMember(const char* name) const { return m_object->hasMember(name); }
    bool hasMember(const String& name) const { return m_object->hasMember(name); }
    void append(const Value& value) { m_object->append(*this, value); }

    String toXml() const { return m_object->toXml(); }
    String toParamsXml() const { return m_object->toParamsXml(); }
    void writeXml(XmlWriter& out) const { m_object->writeXml(out); }

    // Reads one value element at `pos` and designates the result; false,
    // the handle invalid and `pos` unchanged, when it is malformed.
    bool fromXml(const String& text, uint32_t& pos);
    // Reads a fault written as a value element holding a struct. A struct
    // lacking "faultCode" or "faultString" throws EBadItem.
    bool faultFromXml(const String& text, uint32_t& pos);
    // The reading step shared by the containers: one value element.
    bool read(XmlReader& reader, uint32_t& pos);

    friend bool operator!=(const Value& a, const Value& b) {
        return a.m_object != b.m_object && !a.m_object->equals(*b.m_object);
    }
    friend bool operator==(const Value& a, const Value& b) { return !(a != b); }

    // "type" (the kind code), then "value" holding the payload.
    void loadConf(IConfReader& reader) override;
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    friend class ObjectValue;
    explicit Value(ObjectValue* object) noexcept : m_object(object) {}

    // One counted reference to the designated object. The invalid object
    // lives for the whole process and is never counted: unset handles,
    // which every array growth makes by the hundred, then cost no atomic
    // operation on a line that all threads share.
    class Handle {
    public:
        Handle(ObjectValue* object) noexcept : m_pointer(object) { retain(object); }
        Handle(const Handle& other) noexcept : m_pointer(other.m_pointer) { retain(m_pointer); }
        Handle(Handle&& other) noexcept : m_pointer(other.m_pointer) { other.m_pointer = invalidObject(); }
        ~Handle() { drop(m_pointer); }
        Handle& operator=(ObjectValue* object) noexcept {
            if (object != m_pointer) {
                retain(object);
                ObjectValue* old = m_pointer;
                m_pointer = object;
                drop(old);
            }
            return *this;
        }
        Handle& operator=(const Handle& other) noexcept { return *this = other.m_pointer; }
        void swapWith(Handle& other) noexcept { std::swap(m_pointer, other.m_pointer); }
        ObjectValue* get() const noexcept { return m_pointer; }
        ObjectValue* operator->() const noexcept { return m_pointer; }
        ObjectValue& operator*() const noexcept { return *m_pointer; }
        friend bool operator==(const Handle& a, const Handle& b) noexcept { return a.m_pointer == b.m_pointer; }

    private:
        static void retain(ObjectValue* object) noexcept {
            if (object != invalidObject()) object->acquire();
        }
        static void drop(ObjectValue* object) noexcept {
            if (object != invalidObject() && object->releaseRef()) object->onLastRelease();
        }
        ObjectValue* m_pointer;
    };
    Handle m_object;
};

// The no-value constant: a handle on the invalid object. Inline, so it is
// built before the statics of every file that includes this header.
inline const Value noValue{};

}  // namespace trivane::xmlrpc
