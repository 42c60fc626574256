// The XML text of values: writing, the reading rules, escaping, base64, the
// scanning helpers and the envelopes.
#include "xmlrpc/xml.h"

#include "base/console.h"
#include "base/exception.h"
#include "xmlrpc/objectvalue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }
String text(const std::string& s) {
    String t;
    t.append(s.data(), static_cast<uint32_t>(s.size()));
    return t;
}
std::string xml(const Value& v) { return str(v.toXml()); }

TEST(XmlTest, EachKindWritesItsFixedText) {
    DateTimeFields t;
    t.year = 2026, t.month = 1, t.day = 8, t.hours = 1, t.minutes = 2, t.seconds = 3;
    Value members;
    members.set("a<b", Value::ofBool(false));
    Value list;
    list.append(Value(-2147483647 - 1));
    list.append(Value());
    struct Case {
        const char* name;
        Value v;
        std::string xml;
    } cases[] = {
        {"integer", Value(7), "<value><i4>7</i4></value>"},
        {"negative integer", Value(-12), "<value><i4>-12</i4></value>"},
        {"true", Value::ofBool(true), "<value><boolean>1</boolean></value>"},
        {"double", Value::ofDouble(0.5), "<value><double>0.500000</double></value>"},
        {"negative double", Value::ofDouble(-2.25e-7), "<value><double>-0.000000</double></value>"},
        {"string", Value("a<b"_s), "<value>a&lt;b</value>"},
        {"all five entities", Value("<>&'\""_s), "<value>&lt;&gt;&amp;&apos;&quot;</value>"},
        {"bytes above 127 and controls", Value("\xE9\x01\t"_s), "<value>\xE9\x01\t</value>"},
        {"date-time", Value::ofDateTime(t), "<value><dateTime.iso8601>20260108T01:02:03</dateTime.iso8601></value>"},
        {"base64", Value::ofBinary(Memory("abc", 3)), "<value><base64>YWJj</base64></value>"},
        {"array", list,
         "<value><array><data><value><i4>-2147483648</i4></value></data></array></value>"},
        {"struct", members,
         "<value><struct><member><name>a&lt;b</name><value><boolean>0</boolean></value></member></struct></value>"},
        {"fault", Value(4, "bad & worse"_s),
         "<value><struct><member><name>faultCode</name><value><i4>4</i4></value></member><member><name>faultString"
         "</name><value>bad &amp; worse</value></member></struct></value>"},
        {"invalid", Value(), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(xml(c.v), c.xml) << c.name;
}

TEST(XmlTest, DoublesOfAnyMagnitudeAreWrittenInFull) {
    const std::string big = xml(Value::ofDouble(1e308));
    const std::string digits = big.substr(15, big.size() - 15 - 17);
    EXPECT_EQ(big.substr(0, 15), "<value><double>");
    EXPECT_EQ(digits.size(), 309u + 7);
    EXPECT_EQ(digits.substr(0, 4), "1000");
    EXPECT_EQ(digits.substr(digits.size() - 7), ".000000");
    EXPECT_EQ(xml(Value::ofDouble(-1.7976931348623157e308)).size(), 15 + 17 + 1 + 309 + 7);
}

TEST(XmlTest, ParamsAreOneParamPerArrayElement) {
    Value params;
    params.append(Value(1));
    params.append(Value("s"_s));
    EXPECT_EQ(str(params.toParamsXml()),
              "<param><value><i4>1</i4></value></param><param><value>s</value></param>");
    EXPECT_EQ(str(Value(1).toParamsXml()), "<param><value><i4>1</i4></value></param>");
    EXPECT_EQ(str(Value().toParamsXml()), "");
}

TEST(XmlTest, EnvelopesWrapTheResultOrTheFault) {
    EXPECT_EQ(str(responseXml(Value())),
              "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t\r\n</param></params>"
              "</methodResponse>\r\n");
    EXPECT_EQ(str(responseXml(Value(1))),
              "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t<value><i4>1</i4></value>\r\n</param>"
              "</params></methodResponse>\r\n");
    EXPECT_EQ(str(faultResponseXml(Value(1, "unknown method name"_s))),
              "<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t<value><struct><member><name>faultCode</name>"
              "<value><i4>1</i4></value></member><member><name>faultString</name><value>unknown method name</value>"
              "</member></struct></value>\r\n</fault></methodResponse>\r\n");
}

// Reading: the value read (as written back), and where the position ends.
TEST(XmlTest, ReadingRules) {
    constexpr uint32_t whole = String::npos;
    struct Case {
        const char* name;
        std::string input;
        bool ok;
        std::string read;  // toXml of the value read
        uint32_t end;      // position afterwards; whole: the input's length
    } cases[] = {
        {"no type tag", "<value>abc</value>", true, "<value>abc</value>", 18},
        {"spaces before untagged text stay", "<value>  abc</value>", true, "<value>  abc</value>", 20},
        {"empty element", "<value></value>", true, "<value></value>", 15},
        {"string tag with entity", "<value><string>a&amp;b</string></value>", true, "<value>a&amp;b</value>", 39},
        {"int tag", "<value><int>7</int></value>", true, "<value><i4>7</i4></value>", 27},
        {"i4 with space", "<value><i4> 7</i4></value>", true, "<value><i4>7</i4></value>", 26},
        {"leading white space and line breaks", " \r\n<value>\n <i4>+7</i4>\n</value>", true,
         "<value><i4>7</i4></value>", 32},
        {"boolean 1", "<value><boolean>1</boolean></value>", true, "<value><boolean>1</boolean></value>", 35},
        {"boolean 2", "<value><boolean>2</boolean></value>", false, "", 0},
        {"boolean without digits", "<value><boolean>x</boolean></value>", false, "", 0},
        {"integer without digits", "<value><i4>-</i4></value>", false, "", 0},
        {"integer above 32 bits clamps", "<value><i4>4294967296</i4></value>", true,
         "<value><i4>2147483647</i4></value>", 34},
        {"integer below 32 bits clamps", "<value><int>-99999999999999999999</int></value>", true,
         "<value><i4>-2147483648</i4></value>", 47},
        {"double", "<value><double>-1.5e3</double></value>", true,
         "<value><double>-1500.000000</double></value>", 38},
        {"double without a number", "<value><double>x</double></value>", false, "", 0},
        {"date-time", "<value><dateTime.iso8601>20260108T01:02:03</dateTime.iso8601></value>", true,
         "<value><dateTime.iso8601>20260108T01:02:03</dateTime.iso8601></value>", 69},
        {"date-time by field widths", "<value><dateTime.iso8601>2026018T1:2:3</dateTime.iso8601></value>", true,
         "<value><dateTime.iso8601>20260108T01:02:03</dateTime.iso8601></value>", 65},
        {"date-time short", "<value><dateTime.iso8601>20260108T01:02</dateTime.iso8601></value>", false, "", 0},
        {"base64 with line breaks", "<value><base64>YW\r\nJj</base64></value>", true,
         "<value><base64>YWJj</base64></value>", 38},
        {"array", "<value><array><data><value><i4>1</i4></value> <value>x</value></data></array></value>", true,
         "<value><array><data><value><i4>1</i4></value><value>x</value></data></array></value>", 85},
        {"array ends at the first bad element",
         "<value><array><data><value><i4>1</i4></value><value><i4>z</i4></value></data></array></value>", true,
         "<value><array><data><value><i4>1</i4></value></data></array></value>", 70},
        {"array without data", "<value><array><value><i4>1</i4></value></array></value>", false, "", 0},
        {"struct", "<value><struct><member><name>b</name><value>2</value></member>"
                   "<member><name>a</name><value><i4>1</i4></value></member></struct></value>",
         true,
         "<value><struct><member><name>a</name><value><i4>1</i4></value></member>"
         "<member><name>b</name><value>2</value></member></struct></value>",
         whole},
        {"struct repeating a member keeps the last",
         "<value><struct><member><name>a</name><value>1</value></member>"
         "<member><name>a</name><value>2</value></member></struct></value>",
         true, "<value><struct><member><name>a</name><value>2</value></member></struct></value>", whole},
        {"struct member name is unescaped",
         "<value><struct><member><name>a&amp;b</name><value>1</value></member></struct></value>", true,
         "<value><struct><member><name>a&amp;b</name><value>1</value></member></struct></value>", 85},
        {"struct with a failing member", "<value><struct><member><name>a</name><value><i4>x</i4></value></member>"
                                         "</struct></value>",
         false, "", 0},
        {"type tag with an attribute", "<value><i4 kind=\"x\">1</i4></value>", false, "", 0},
        {"type tag with a space", "<value><i4 >1</i4></value>", false, "", 0},
        {"empty-element tag", "<value><nil/></value>", false, "", 0},
        {"unknown tag", "<value><long>1</long></value>", false, "", 0},
        {"upper-case tag", "<VALUE><i4>1</i4></VALUE>", false, "", 0},
        {"no value element", "<i4>1</i4>", false, "", 0},
        {"nothing", "", false, "", 0},
        {"integer without end tags", "<value><i4>7", true, "<value><i4>7</i4></value>", 12},
        {"integer end tag skipped", "<value><i4>7<value>8</value>", true, "<value><i4>7</i4></value>", 28},
        {"string without any tag after", "<value>abc", false, "", 0},
    };
    for (const Case& c : cases) {
        const String input = text(c.input);
        uint32_t pos = 0;
        Value v(1);
        EXPECT_EQ(v.fromXml(input, pos), c.ok) << c.name;
        EXPECT_EQ(xml(v), c.read) << c.name;
        EXPECT_EQ(pos, c.end == whole ? input.length() : c.end) << c.name;
    }
}

TEST(XmlTest, ReadDateTimeHoldsTheCalendarFields) {
    uint32_t pos = 0;
    Value v("<value><dateTime.iso8601>20260108T01:02:03</dateTime.iso8601></value>"_s, pos);
    const DateTimeFields t = v.asDateTime();
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 8);
    EXPECT_EQ(t.hours, 1);
    EXPECT_EQ(t.minutes, 2);
    EXPECT_EQ(t.seconds, 3);
    EXPECT_EQ(t.weekDay, 0);
    EXPECT_EQ(t.yearDay, 0);
    EXPECT_EQ(t.daylight, -1);
}

TEST(XmlTest, ReadingAtAPositionLeavesTheRestForTheNextRead) {
    const String doc = "<params><param><value><i4>1</i4></value></param><param><value>two</value></param></params>"_s;
    uint32_t pos = 0;
    ASSERT_TRUE(skipPrefix("<params>", doc, pos));
    std::string read;
    while (skipPrefix("<param>", doc, pos)) {
        Value v;
        ASSERT_TRUE(v.fromXml(doc, pos));
        read += xml(v);
        skipPrefix("</param>", doc, pos);
    }
    EXPECT_EQ(read, "<value><i4>1</i4></value><value>two</value>");
    EXPECT_TRUE(skipPrefix("</params>", doc, pos));
    EXPECT_EQ(pos, doc.length());
}

std::string nested(int levels, const std::string& inner) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "<value><array><data>";
    s += inner;
    for (int i = 0; i < levels; ++i) s += "</data></array></value>";
    return s;
}

TEST(XmlTest, NestingIsBoundedAndDeeperInputFails) {
    uint32_t pos = 0;
    Value v;
    EXPECT_TRUE(v.fromXml(text(nested(XmlReader::maxDepth, "<value>x</value>")), pos));
    int depth = 0;
    for (const Value* p = &v; p->type() == TypeArray; p = &p->get(0)) ++depth;
    EXPECT_EQ(depth, static_cast<int>(XmlReader::maxDepth));

    pos = 0;
    EXPECT_FALSE(v.fromXml(text(nested(XmlReader::maxDepth + 1, "<value>x</value>")), pos));
    EXPECT_FALSE(v.isValid());
    EXPECT_EQ(pos, 0u);

    // Far beyond the limit, with structs too and no end tags at all.
    std::string hostile;
    for (int i = 0; i < 200000; ++i) hostile += i % 2 ? "<value><array><data>" : "<value><struct><member><name>n</name>";
    pos = 0;
    EXPECT_FALSE(v.fromXml(text(hostile), pos));
    EXPECT_EQ(pos, 0u);
}

TEST(XmlTest, ElementsWithoutEndTagsReadOnceEach) {
    std::string body = "<value><array><data>";
    for (int i = 0; i < 87000; ++i) body += "<value><i4>1";
    uint32_t pos = 0;
    Value v;
    ASSERT_TRUE(v.fromXml(text(body), pos));
    EXPECT_EQ(v.size(), 87000);
    EXPECT_EQ(v.get(86999).asInt(), 1);
    EXPECT_EQ(pos, body.size());
}

TEST(XmlTest, AStructOfManyMembersInReverseOrderReadsSorted) {
    std::string body = "<value><struct>";
    for (int i = 30000; i > 0; --i)
        body += "<member><name>m" + std::to_string(i) + "</name><value><i4>" + std::to_string(i) + "</i4></value></member>";
    body += "</struct></value>";
    uint32_t pos = 0;
    Value v;
    ASSERT_TRUE(v.fromXml(text(body), pos));
    ASSERT_EQ(v.size(), 30000);
    const ValueDict& members = v.asStruct().members();
    for (uint32_t i = 1; i < members.count(); ++i) ASSERT_TRUE(members.itemAt(i - 1).key < members.itemAt(i).key);
    EXPECT_EQ(v.get("m12345").asInt(), 12345);
}

TEST(XmlTest, WritingAndReadingAgreeOnEveryKind) {
    DateTimeFields t;
    t.year = 1999, t.month = 12, t.day = 31, t.hours = 23, t.minutes = 59, t.seconds = 58, t.daylight = -1;
    Value tree;
    tree.append(Value(-5));
    tree.append(Value::ofDouble(0.125));
    tree.append(Value::ofBool(true));
    tree.append(Value("<&>'\" \xC3\xA9"_s));
    tree.append(Value(""_s));
    tree.append(Value::ofDateTime(t));
    tree.append(Value::ofBinary(Memory("\0\xFF\x10", 3)));
    tree.item(7).set("inner & name", tree.mid(0, 2));
    uint32_t pos = 0;
    Value read;
    const String written = tree.toXml();
    ASSERT_TRUE(read.fromXml(written, pos));
    EXPECT_TRUE(read == tree) << xml(read);
    EXPECT_EQ(pos, written.length());
}

TEST(XmlTest, FaultsReadFromAStruct) {
    struct Case {
        const char* name;
        std::string input;
        bool ok;
        std::string asString;  // or the exception text
    } cases[] = {
        {"fault", "<value><struct><member><name>faultString</name><value>bad</value></member>"
                  "<member><name>faultCode</name><value><int>3</int></value></member></struct></value>",
         true, "3: bad"},
        {"code as a string", "<value><struct><member><name>faultCode</name><value>12</value></member>"
                             "<member><name>faultString</name><value></value></member></struct></value>",
         true, "12: "},
        {"not a struct", "<value><array><data></data></array></value>", false, ""},
        {"no value element", "<struct></struct>", false, ""},
        {"failing member", "<value><struct><member><name>faultCode</name><value><i4>x</i4></value></member>"
                           "</struct></value>",
         false, ""},
        {"missing faultString", "<value><struct><member><name>faultCode</name><value><i4>1</i4></value></member>"
                                "</struct></value>",
         false, "EBadItem:dict:82"},
        {"faultCode of another kind", "<value><struct><member><name>faultCode</name><value><double>1</double>"
                                      "</value></member><member><name>faultString</name><value>m</value></member>"
                                      "</struct></value>",
         false, "EBadType:objectvalue:21"},
    };
    for (const Case& c : cases) {
        const String input = text(c.input);
        uint32_t pos = 0;
        Value v;
        std::string outcome;
        bool ok = false;
        try {
            ok = v.faultFromXml(input, pos);
            if (ok) outcome = str(v.asString());
        } catch (const Exception& e) {
            outcome = str(e.text());
        }
        EXPECT_EQ(ok, c.ok) << c.name;
        EXPECT_EQ(outcome, c.asString) << c.name;
        EXPECT_EQ(pos, ok ? input.length() : 0u) << c.name;
        EXPECT_EQ(v.isFault(), ok) << c.name;
    }
}

TEST(XmlTest, EscapingAndUnescaping) {
    struct Case {
        std::string plain, escaped;
    } cases[] = {
        {"a<b", "a&lt;b"}, {"<>&'\"", "&lt;&gt;&amp;&apos;&quot;"}, {"", ""}, {"\xFF\x01", "\xFF\x01"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(str(xmlEscape(text(c.plain))), c.escaped);
        EXPECT_EQ(str(xmlUnescape(text(c.escaped))), c.plain);
    }
    struct Unescape {
        std::string in, out;
    } unescapes[] = {
        {"&foo;", "&foo;"}, {"&#60;", "&#60;"}, {"a&", "a&"}, {"&amp;lt;", "&lt;"}, {"&&lt;", "&<"},
        {"&lt", "&lt"}, {"&quot;&apos", "\"&apos"},
    };
    for (const Unescape& c : unescapes) EXPECT_EQ(str(xmlUnescape(text(c.in))), c.out) << c.in;
    const String plain = "nothing to replace"_s;
    EXPECT_EQ(xmlEscape(plain).data(), plain.data());
    EXPECT_EQ(xmlUnescape(plain).data(), plain.data());
}

TEST(XmlTest, Base64) {
    struct Case {
        std::string bytes, encoded;
    } cases[] = {
        {"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"abcd", "YWJjZA=="},
        {std::string("\0\xFF\xFE", 3), "AP/+"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(str(base64Encode(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()))), c.encoded);
        const Memory m = base64Decode(text(c.encoded));
        EXPECT_EQ(std::string(m.data(), m.length()), c.bytes) << c.encoded;
    }
    struct Decode {
        std::string in, out;
    } decodes[] = {
        {"YW\r\nJj", "abc"}, {" Y W J j \t", "abc"}, {"YQ", "a"}, {"YWI", "ab"}, {"YQ==YWJj", "a"},
        {"YWJjZA", "abcd"},
    };
    for (const Decode& c : decodes) {
        const Memory m = base64Decode(text(c.in));
        EXPECT_EQ(std::string(m.data(), m.length()), c.out) << c.in;
    }
}

TEST(XmlTest, ScanningHelpers) {
    const String doc = "  <a><b>text</b> </a>"_s;
    uint32_t pos = 0;
    EXPECT_FALSE(skipPrefix("<b>", doc, pos));
    EXPECT_EQ(pos, 0u);
    EXPECT_TRUE(skipPrefix("<a>", doc, pos));
    EXPECT_EQ(pos, 5u);
    EXPECT_EQ(str(nextTag(doc, pos)), "<b>");
    EXPECT_EQ(pos, 8u);
    EXPECT_EQ(str(nextTag(doc, pos)), "");
    EXPECT_EQ(pos, 8u);
    uint32_t from = 0;
    EXPECT_EQ(str(textBetween("<b>", doc, from)), "text");
    EXPECT_EQ(from, 16u);
    EXPECT_EQ(str(textBetween("<c>", doc, from)), "");
    EXPECT_EQ(from, 16u);
    EXPECT_TRUE(skipPast("</a>", doc, from));
    EXPECT_EQ(from, doc.length());
    EXPECT_FALSE(skipPast("</a>", doc, from));
    uint32_t inside = 3;
    EXPECT_FALSE(skipPast("<a>", doc, inside));
    EXPECT_EQ(inside, 3u);
    uint32_t open = 0;
    EXPECT_EQ(str(nextTag("  <never closed"_s, open)), "");
    EXPECT_EQ(open, 0u);
    uint32_t vt = 0;
    EXPECT_TRUE(skipPrefix("<x>", "\v\f<x>"_s, vt));
    EXPECT_EQ(vt, 5u);
}

TEST(XmlTest, StringWithoutAnyFollowingTagLogsNoEndTag) {
    char path[] = "/tmp/xmlrpc-log-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    Console::instance()->setOutput(LogTrace, String(path));
    uint32_t pos = 0;
    Value v;
    EXPECT_FALSE(v.fromXml("<value>no tag after this"_s, pos));
    EXPECT_FALSE(v.fromXml("<value><base64>YWJj"_s, pos));
    Console::instance()->setOutput(LogTrace, "stdout"_s);
    std::ifstream in(path);
    std::stringstream log;
    log << in.rdbuf();
    std::remove(path);
    EXPECT_NE(log.str().find("TRACE xmlrpc.StringValue.fromXml no end tag\n"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("TRACE xmlrpc.Base64Value.fromXml no end tag\n"), std::string::npos) << log.str();
}

}  // namespace
