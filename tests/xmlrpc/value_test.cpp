// Values: kind changes of the invalid value, containers, conversions,
// equality, emptiness, the serialised form and the standard faults.
#include "xmlrpc/objectvalue.h"

#include "xmlrpc/faults.h"

#include "base/exception.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

using namespace trivane;
using test::str;
using test::thrown;
using namespace trivane::xmlrpc;

namespace {

std::string xml(const Value& v) { return str(v.toXml()); }

// The text of the exception `action` throws, or "" when it throws none.
Value array(std::initializer_list<Value> elements) {
    Value v;
    v.asArray();
    for (const Value& e : elements) v.append(e);
    return v;
}

TEST(ValueTest, InvalidValueTurnsIntoTheContainerTheOperationNeeds) {
    struct Case {
        const char* name;
        std::function<void(Value&)> operation;
        int32_t type;
        const char* xml;
    } cases[] = {
        {"item index", [](Value& v) { v.item(2) = 5; }, TypeArray,
         "<value><array><data><value><i4>5</i4></value></data></array></value>"},
        {"operator[] index", [](Value& v) { v[0] = "x"; }, TypeArray,
         "<value><array><data><value>x</value></data></array></value>"},
        {"set index", [](Value& v) { v.set(1, Value(3)); }, TypeArray,
         "<value><array><data><value><i4>3</i4></value></data></array></value>"},
        {"append", [](Value& v) { v.append(Value(1)); }, TypeArray,
         "<value><array><data><value><i4>1</i4></value></data></array></value>"},
        {"asArray", [](Value& v) { v.asArray(); }, TypeArray, "<value><array><data></data></array></value>"},
        {"set C-string key", [](Value& v) { v.set("a", Value(1)); }, TypeStruct,
         "<value><struct><member><name>a</name><value><i4>1</i4></value></member></struct></value>"},
        {"item String key", [](Value& v) { v.item("k"_s) = 2; }, TypeStruct,
         "<value><struct><member><name>k</name><value><i4>2</i4></value></member></struct></value>"},
        {"item key left invalid", [](Value& v) { v["k"]; }, TypeStruct,
         "<value><struct><member><name>k</name></member></struct></value>"},
        {"asStruct", [](Value& v) { v.asStruct(); }, TypeStruct, "<value><struct></struct></value>"},
    };
    for (const Case& c : cases) {
        Value v;
        Value other = v;
        c.operation(v);
        EXPECT_EQ(v.type(), c.type) << c.name;
        EXPECT_EQ(xml(v), c.xml) << c.name;
        EXPECT_FALSE(other.isValid()) << c.name << ": another holder of the invalid object changed";
        EXPECT_FALSE(noValue.isValid()) << c.name;
    }
}

TEST(ValueTest, ItemWithIndexTwoLeavesTwoInvalidElementsBefore) {
    Value v;
    v.item(2) = 5;
    ASSERT_EQ(v.size(), 3);
    EXPECT_FALSE(v.get(0).isValid());
    EXPECT_FALSE(v.get(1).isValid());
    EXPECT_EQ(v.get(2).asInt(), 5);
}

TEST(ValueTest, InvalidValueOtherwiseIsEmptyAndRefusesAccess) {
    Value v;
    EXPECT_EQ(v.size(), 0);
    EXPECT_TRUE(v.isEmpty());
    EXPECT_EQ(xml(v), "");
    EXPECT_EQ(str(v.toParamsXml()), "");
    uint32_t pos = 0;
    EXPECT_FALSE(invalidObject()->fromXml("<i4>1</i4>"_s, pos));
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(thrown([&] { v.get(0); }), "EBadType:objectvalue:45");
    EXPECT_EQ(thrown([&] { v.asString(); }), "EBadType:objectvalue:33");
    EXPECT_FALSE(v.hasMember("a"));
    EXPECT_EQ(v.type(), TypeInvalid);
}

TEST(ValueTest, UnsupportedOperationsThrowBadTypeWithTheirSlotLine) {
    const Value integer(1), string("s"_s), boolean = Value::ofBool(true), dbl = Value::ofDouble(1.5);
    Value arr = array({Value(1)});
    Value members;
    members.set("a", Value(1));
    struct Case {
        const char* name;
        std::function<void()> action;
        const char* text;
    } cases[] = {
        {"asInt on boolean", [&] { boolean.asInt(); }, "EBadType:objectvalue:21"},
        {"asInt on double", [&] { dbl.asInt(); }, "EBadType:objectvalue:21"},
        {"asDouble on integer", [&] { integer.asDouble(); }, "EBadType:objectvalue:25"},
        {"asDouble on string", [&] { string.asDouble(); }, "EBadType:objectvalue:25"},
        {"asBool on integer", [&] { integer.asBool(); }, "EBadType:objectvalue:29"},
        {"asString on integer", [&] { integer.asString(); }, "EBadType:objectvalue:33"},
        {"asBinary on string", [&] { string.asBinary(); }, "EBadType:objectvalue:37"},
        {"asDateTime on string", [&] { string.asDateTime(); }, "EBadType:objectvalue:41"},
        {"get index on string", [&] { string.get(0); }, "EBadType:objectvalue:45"},
        {"get String on integer", [&] { integer.get("a"_s); }, "EBadType:objectvalue:49"},
        {"get C-string on integer", [&] { integer.get("a"); }, "EBadType:objectvalue:53"},
        {"item index on integer", [&] { Value v(1); v.item(0); }, "EBadType:objectvalue:57"},
        {"item String on integer", [&] { Value v(1); v.item("a"_s); }, "EBadType:objectvalue:61"},
        {"item C-string on integer", [&] { Value v(1); v.item("a"); }, "EBadType:objectvalue:65"},
        {"set index on string", [&] { Value v("s"_s); v.set(0, Value(1)); }, "EBadType:objectvalue:69"},
        {"set String on string", [&] { Value v("s"_s); v.set("a"_s, Value(1)); }, "EBadType:objectvalue:73"},
        {"set C-string on string", [&] { Value v("s"_s); v.set("a", Value(1)); }, "EBadType:objectvalue:77"},
        {"append on struct", [&] { members.append(Value(1)); }, "EBadType:objectvalue:81"},
        {"size on integer", [&] { integer.size(); }, "EBadType:objectvalue:85"},
        {"mid with count on struct", [&] { members.mid(0, 1); }, "EBadType:objectvalue:89"},
        {"mid on string", [&] { string.mid(0); }, "EBadType:objectvalue:93"},
        {"asArray on struct", [&] { members.asArray(); }, "EBadType:objectvalue:97"},
        {"asStruct on array", [&] { arr.asStruct(); }, "EBadType:objectvalue:101"},
        {"const asArray on invalid", [&] { noValue.asArray(); }, "EBadType:objectvalue:105"},
        {"const asStruct on invalid", [&] { noValue.asStruct(); }, "EBadType:objectvalue:109"},
    };
    for (const Case& c : cases) EXPECT_EQ(thrown(c.action), c.text) << c.name;
    EXPECT_EQ(xml(members), "<value><struct><member><name>a</name><value><i4>1</i4></value></member></struct></value>");
}

TEST(ValueTest, ArrayGetGrowsAnArrayWithStorageAndThrowsOnOneWithout) {
    Value v = array({Value(1), Value(2)});
    const Value& read = v.get(5);
    EXPECT_FALSE(read.isValid());
    EXPECT_EQ(v.size(), 6);
    EXPECT_EQ(v.get("1").asInt(), 2);

    const Value fresh{Array<Value>()};
    EXPECT_EQ(fresh.type(), TypeArray);
    EXPECT_EQ(thrown([&] { fresh.get(0); }), "EBadItem:array:655");
    EXPECT_EQ(fresh.size(), 0);
}

TEST(ValueTest, StructGetOfAnAbsentMemberThrowsAndItemAddsIt) {
    Value v;
    v.set("b"_s, Value(2));
    EXPECT_EQ(thrown([&] { v.get("a"); }), "EBadItem:dict:82");
    EXPECT_FALSE(v.hasMember("a"));
    v.item("a");
    EXPECT_TRUE(v.hasMember("a"));
    EXPECT_EQ(v.size(), 2);
    v.set(7, Value(7));
    EXPECT_EQ(v.get("7").asInt(), 7);
    EXPECT_EQ(v.get(7).asInt(), 7);
}

TEST(ValueTest, StructMembersAreOrderedShorterNamesFirstThenByBytes) {
    Value v;
    v.set("bb", Value(1));
    v.set("a", Value(2));
    v.set("\xC3", Value(3));
    v.set("ab", Value(4));
    EXPECT_EQ(xml(v),
              "<value><struct><member><name>a</name><value><i4>2</i4></value></member>"
              "<member><name>\xC3</name><value><i4>3</i4></value></member>"
              "<member><name>ab</name><value><i4>4</i4></value></member>"
              "<member><name>bb</name><value><i4>1</i4></value></member></struct></value>");
    Value fault;
    fault.set("faultString", Value("x"_s));
    fault.set("faultCode", Value(1));
    EXPECT_EQ(xml(fault),
              "<value><struct><member><name>faultCode</name><value><i4>1</i4></value></member>"
              "<member><name>faultString</name><value>x</value></member></struct></value>");
    v.set("a", Value(9));
    EXPECT_EQ(v.size(), 4);
    EXPECT_EQ(v.get("a").asInt(), 9);
}

TEST(ValueTest, ConversionsFollowTheKind) {
    EXPECT_EQ(Value("42"_s).asInt(), 42);
    EXPECT_EQ(Value("-7x"_s).asInt(), -7);
    EXPECT_FALSE(Value(""_s).asBool());
    EXPECT_TRUE(Value("0"_s).asBool());
    EXPECT_TRUE(Value::ofBool(true).asBool());
    EXPECT_FALSE(Value::ofBinary(Memory()).asBool());
    EXPECT_TRUE(Value::ofBinary(Memory("\0", 1)).asBool());
    EXPECT_EQ(Value::ofBinary(Memory("ab", 2)).size(), 2);
    EXPECT_EQ(str(Value(3, "bad parameter"_s).asString()), "3: bad parameter");
    EXPECT_EQ(Value::ofDouble(0.25).asDouble(), 0.25);
    Value v;
    v = "text"_s;
    EXPECT_EQ(v.type(), TypeString);
    EXPECT_EQ(v.size(), 4);
    v = 12;
    EXPECT_EQ(v.asInt(), 12);
    EXPECT_TRUE(Value(1, "m"_s).isFault());
}

TEST(ValueTest, AssignmentMakesANewObjectAndLeavesOtherHoldersAlone) {
    Value a(1);
    Value b = a;
    a = 2;
    EXPECT_EQ(b.asInt(), 1);
    Value list = array({Value(1)});
    Value shared = list;
    list.append(Value(2));
    EXPECT_EQ(shared.size(), 2) << "handles share their object";
    list.reset();
    EXPECT_FALSE(list.isValid());
    EXPECT_EQ(shared.size(), 2);
}

TEST(ValueTest, StoringAnElementOfTheSameArrayKeepsIt) {
    Value v = array({Value("first"_s)});
    v.set(40, v.get(0));
    v.append(v.get(0));
    EXPECT_EQ(str(v.get(40).asString()), "first");
    EXPECT_EQ(str(v.get(41).asString()), "first");
}

TEST(ValueTest, EqualityComparesKindAndPayload) {
    DateTimeFields t;
    t.year = 2026;
    t.month = 1;
    DateTimeFields t2 = t;
    t2.daylight = -1;
    const Value nan = Value::ofDouble(std::nan(""));
    Value ab;
    ab.set("a", Value(1));
    ab.set("b", Value("x"_s));
    Value ba;
    ba.set("b", Value("x"_s));
    ba.set("a", Value(1));
    struct Case {
        const char* name;
        Value a, b;
        bool equal;
    } cases[] = {
        {"integers 1", Value(1), Value(1), true},
        {"integer and boolean 1", Value(1), Value::ofBool(true), false},
        {"integer and string", Value(1), Value("1"_s), false},
        {"doubles", Value::ofDouble(0.5), Value::ofDouble(0.5), true},
        {"NaN", Value::ofDouble(std::nan("")), Value::ofDouble(std::nan("")), false},
        {"NaN, same object", nan, nan, true},
        {"strings", Value("ab"_s), Value("ab"_s), true},
        {"strings differ", Value("ab"_s), Value("ac"_s), false},
        {"base64", Value::ofBinary(Memory("a\0b", 3)), Value::ofBinary(Memory("a\0b", 3)), true},
        {"base64 differ", Value::ofBinary(Memory("a\0b", 3)), Value::ofBinary(Memory("a\0c", 3)), false},
        {"date-times", Value::ofDateTime(t), Value::ofDateTime(t), true},
        {"date-times daylight", Value::ofDateTime(t), Value::ofDateTime(t2), false},
        {"faults", Value(3, "m"_s), Value(3, "m"_s), true},
        {"faults code", Value(3, "m"_s), Value(4, "m"_s), false},
        {"arrays", array({Value(1), Value()}), array({Value(1), Value()}), true},
        {"arrays length", array({Value(1)}), array({Value(1), Value()}), false},
        {"structs in any insertion order", ab, ba, true},
        {"invalid", Value(), Value(), true},
        {"invalid and empty string", Value(), Value(""_s), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.a != c.b, !c.equal) << c.name;
    }
}

TEST(ValueTest, Emptiness) {
    Value emptyFault(0, ""_s);
    struct Case {
        const char* name;
        Value v;
        bool empty;
    } cases[] = {
        {"false", Value::ofBool(false), true},     {"true", Value::ofBool(true), false},
        {"0", Value(0), true},                     {"1", Value(1), false},
        {"0.0", Value::ofDouble(0.0), true},       {"-0.0", Value::ofDouble(-0.0), true},
        {"0.1", Value::ofDouble(0.1), false},      {"empty string", Value(""_s), true},
        {"string", Value("a"_s), false},           {"empty base64", Value::ofBinary(Memory()), true},
        {"empty array", Value(Array<Value>()), true}, {"array", array({Value()}), false},
        {"fault 0", emptyFault, true},             {"fault 0 with text", Value(0, "m"_s), false},
        {"date-time", Value::ofDateTime({}), false}, {"invalid", Value(), true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.v.isEmpty(), c.empty) << c.name;
}

TEST(ValueTest, MidTakesElementsFromFirst) {
    const Value v = array({Value(0), Value(1), Value(2), Value(3)});
    EXPECT_EQ(xml(v.mid(2)), "<value><array><data><value><i4>2</i4></value><value><i4>3</i4></value></data></array></value>");
    EXPECT_EQ(xml(v.mid(1, 1)), "<value><array><data><value><i4>1</i4></value></data></array></value>");
    EXPECT_EQ(v.mid(3, 10).size(), 1);
    EXPECT_FALSE(v.mid(4).isValid());
    EXPECT_FALSE(v.mid(-1).isValid());
}

TEST(ValueTest, CloneCopiesTheContainerButSharesTheElements) {
    Value inner = array({Value(1)});
    Value outer = array({inner});
    gc::Pointer<ObjectValue> copy(outer.object()->clone());
    EXPECT_TRUE(copy->equals(*outer.object()));
    outer.append(Value(2));
    EXPECT_EQ(copy->size(), 1) << "the copy has storage of its own";
    inner.append(Value(3));
    EXPECT_EQ(copy->get(0).size(), 2) << "elements are shared, not cloned";
}

// A positional archive over bytes in memory.
class BufferArchive : public IArchive {
public:
    void write(const void* bytes, uint32_t count) override { data.append(static_cast<const char*>(bytes), count); }
    void read(void* buffer, uint32_t count) override {
        if (count > data.size() - position) TRIVANE_THROW(EFile);
        std::memcpy(buffer, data.data() + position, count);
        position += count;
    }
    std::string data;
    size_t position = 0;
};

TEST(ValueTest, SerialisedStreamFormIsTheKindThenThePayload) {
    BufferArchive archive;
    Value(5).saveStream(archive);
    Value("hi"_s).saveStream(archive);
    EXPECT_EQ(archive.data, std::string("\x01\0\0\0\x05\0\0\0\x04\0\0\0\x02\0\0\0hi", 18));
}

TEST(ValueTest, EveryKindRoundTripsThroughAStream) {
    DateTimeFields t;
    t.year = 2026, t.month = 1, t.day = 8, t.hours = 1, t.minutes = 2, t.seconds = 3, t.daylight = -1;
    Value tree;
    tree.append(Value(-3));
    tree.append(Value::ofDouble(-1e300));
    tree.append(Value::ofBool(true));
    tree.append(Value("s\0t"_s));
    tree.append(Value::ofDateTime(t));
    tree.append(Value::ofBinary(Memory("\xFF\0", 2)));
    tree.append(Value(8, "gateway not connected"_s));
    tree.append(Value());
    tree.item(8).set("name", array({Value(1)}));
    BufferArchive archive;
    tree.saveStream(archive);
    Value read;
    read.loadStream(archive);
    EXPECT_EQ(archive.position, archive.data.size());
    EXPECT_TRUE(read == tree) << xml(read);
    EXPECT_EQ(read.get(4).asDateTime().daylight, -1);
}

TEST(ValueTest, UnknownKindCodeLeavesTheHandleInvalid) {
    BufferArchive archive;
    archive.writeInt32(12);
    Value v(1);
    v.loadStream(archive);
    EXPECT_FALSE(v.isValid());
}

}  // namespace

namespace {

TEST(FaultsTest, TheStandardTableInXml) {
    struct Case {
        const Value& fault;
        const char* text;
    } cases[] = {
        {faultUnknownMethod, "1: unknown method name"}, {faultNetworkTimeout, "2: network timeout"},
        {faultBadParameter, "3: bad parameter"},        {faultBadConfiguration, "4: bad configuration"},
        {faultNotFound, "5: not found"},                {faultInternalError, "6: internal error"},
        {faultNoGateway, "7: no gateway"},              {faultGatewayNotConnected, "8: gateway not connected"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.fault.isFault());
        EXPECT_EQ(str(c.fault.asString()), c.text);
    }
    EXPECT_EQ(xml(faultBadParameter),
              "<value><struct><member><name>faultCode</name><value><i4>3</i4></value></member>"
              "<member><name>faultString</name><value>bad parameter</value></member></struct></value>");
}

}  // namespace
