// HTTP headers: splitting from the stream, attribute search, content length,
// recorded changes, request lines, cookies and the malformed last line.
#include "http/header.h"
#include "http/request.h"
#include "http/response.h"

#include "base/console.h"
#include "base/logcapture.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

using namespace trivane;
using test::str;
using test::thrown;
using namespace trivane::http;

namespace {

String text(const std::string& s) {
    String t;
    t.append(s.data(), static_cast<uint32_t>(s.size()));
    return t;
}

Header parsed(const std::string& block) {
    Header h;
    String input = text(block);
    EXPECT_TRUE(h.parse(input)) << block;
    return h;
}

TEST(HeaderTest, ParsingWaitsForTheEndOfTheBlockAndLeavesTheBody) {
    Header h;
    String input = "POST /rpc HTTP/1.1\r\nContent-Length: 5\r\n"_s;
    EXPECT_FALSE(h.parse(input));
    EXPECT_EQ(str(input), "POST /rpc HTTP/1.1\r\nContent-Length: 5\r\n");
    input = input + "\r\nhello";
    ASSERT_TRUE(h.parse(input));
    EXPECT_EQ(str(h.text()), "POST /rpc HTTP/1.1\r\nContent-Length: 5\r\n\r\n");
    EXPECT_EQ(str(input), "hello");
    EXPECT_TRUE(h.crlf());
    EXPECT_EQ(h.contentLength(), 5u);

    String empty;
    EXPECT_FALSE(h.parse(empty));
    String start = "A: 1\n\nbody"_s;
    EXPECT_FALSE(h.parse(start, 10));
}

TEST(HeaderTest, TheEarlierOfTheTwoTerminatorsEndsTheBlock) {
    struct Case {
        std::string input, header, body;
        bool crlf;
    } cases[] = {
        {"GET / HTTP/1.1\nHost: a\n\nbody\r\n\r\n", "GET / HTTP/1.1\nHost: a\n\n", "body\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\nbody\n\n", "GET / HTTP/1.1\r\nHost: a\r\n\r\n", "body\n\n", true},
        {"\n\n", "\n\n", "", false},
    };
    for (const Case& c : cases) {
        Header h;
        String input = text(c.input);
        ASSERT_TRUE(h.parse(input));
        EXPECT_EQ(str(h.text()), c.header);
        EXPECT_EQ(str(input), c.body);
        EXPECT_EQ(h.crlf(), c.crlf);
    }
}

TEST(HeaderTest, LinesAddedToAnLfHeaderEndWithLf) {
    Header h = parsed("HTTP/1.1 200 OK\nServer: x\n\n");
    h.addAttribute("Connection", "close"_s);
    EXPECT_EQ(str(h.text()), "HTTP/1.1 200 OK\nServer: x\nConnection: close\n\n");
    Header c = parsed("HTTP/1.1 200 OK\r\n\r\n");
    c.addAttribute("Connection", "close"_s);
    EXPECT_EQ(str(c.text()), "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
}

TEST(HeaderTest, AttributeSearchIgnoresCaseButNeedsTheNameAtTheLineStart) {
    struct Case {
        const char* name;
        std::string line;
        std::string value;
    } cases[] = {
        {"canonical", "Content-Length: 42", "42"},
        {"mixed case", "cOnTeNt-LeNgTh: 42", "42"},
        {"space before colon", "content-length  : 42", "42"},
        {"tab before colon", "CONTENT-LENGTH\t:42", "42"},
        {"other text before the name", "X-Content-Length: 42", ""},
        {"longer name", "Content-Lengths: 42", ""},
        {"value trimmed", "Content-Length: \t 42 \t", "42"},
    };
    for (const Case& c : cases) {
        Header h = parsed("POST / HTTP/1.1\r\n" + c.line + "\r\n\r\n");
        EXPECT_EQ(str(h.getAttribute("content-length")), c.value) << c.name;
    }
    Header both = parsed("POST / HTTP/1.1\r\nX-Content-Length: 1\r\ncontent-length: 2\r\n\r\n");
    EXPECT_EQ(str(both.getAttribute("content-length")), "2");
    EXPECT_EQ(both.contentLength(), 2u);
}

TEST(HeaderTest, ContentLengthStates) {
    struct Case {
        const char* name;
        std::string lines;
        int state;
        uint64_t length;
    } cases[] = {
        {"number", "Content-Length: 42\r\n", StatePresent, 42},
        {"number with spaces", "Content-Length:  42 \r\n", StatePresent, 42},
        {"large", "Content-Length: 8589934592\r\n", StatePresent, 8589934592ull},
        {"not a number", "Content-Length: abc\r\n", StateRemoved, 0},
        {"signed", "Content-Length: -1\r\n", StateRemoved, 0},
        {"empty", "Content-Length:\r\n", StateRemoved, 0},
        {"missing", "Host: a\r\n", StateAbsent, 0},
    };
    for (const Case& c : cases) {
        Header h = parsed("POST / HTTP/1.1\r\n" + c.lines + "\r\n");
        EXPECT_EQ(h.contentLength(), c.length) << c.name;
        EXPECT_EQ(h.contentLengthState(), c.state) << c.name;
    }
}

TEST(HeaderTest, RemovingAnAttributeRemovesEveryLineOfIt) {
    Header h = parsed("HTTP/1.1 200 OK\r\nVia: a\r\nHost: h\r\nvia : b\r\n\r\n");
    h.removeAttribute("via");
    EXPECT_EQ(str(h.text()), "HTTP/1.1 200 OK\r\nHost: h\r\n\r\n");
    h.setAttribute("host", "Host", "k"_s);
    EXPECT_EQ(str(h.text()), "HTTP/1.1 200 OK\r\nHost: k\r\n\r\n");
}

TEST(HeaderTest, RecordedChangesAreWrittenByToStringInTableOrder) {
    Header h = parsed("HTTP/1.1 200 OK\r\nServer: old\r\nContent-Length: 1\r\nVia: v\r\n\r\n");
    EXPECT_EQ(str(h.knownAttribute(Server)), "old");
    EXPECT_EQ(h.knownAttributeState(Server), StatePresent);
    EXPECT_EQ(str(h.knownAttribute(Host)), "");
    EXPECT_EQ(h.knownAttributeState(Host), StateAbsent);
    h.setKnownAttribute(Server, "new"_s);
    h.setKnownAttribute(Connection, "close"_s);
    h.removeKnownAttribute(Via);
    h.setContentLength(1234);
    Strings challenges;
    challenges.append("Basic realm=\"a\""_s);
    challenges.append("Negotiate"_s);
    h.setListAttribute(WwwAuthenticate, challenges);
    EXPECT_EQ(str(h.toString()),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nServer: new\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
              "WWW-Authenticate: Negotiate\r\nContent-Length: 1234\r\n\r\n");
    EXPECT_EQ(h.knownAttributeState(Server), StatePresent);
    EXPECT_EQ(h.knownAttributeState(Via), StateAbsent);
    EXPECT_EQ(h.listAttribute(WwwAuthenticate).count(), 2u);

    Header lists = parsed("HTTP/1.1 401 No\r\nWWW-Authenticate: one\r\nwww-authenticate: two\r\n\r\n");
    const Strings& read = lists.listAttribute(WwwAuthenticate);
    ASSERT_EQ(read.count(), 2u);
    EXPECT_EQ(str(read[1]), "two");
    h.reset();
    EXPECT_EQ(str(h.text()), "");
    EXPECT_EQ(h.knownAttributeState(Server), StateUnknown);
}

TEST(HeaderTest, KnownNamesAreDistinctAndTheUnnamedEntryIsNeverWritten) {
    std::set<std::string> lowered;
    for (int i = 0; i < knownAttributeCount; ++i) lowered.insert(str(String(knownAttributeName(i)).toLower()));
    EXPECT_EQ(lowered.size(), static_cast<size_t>(knownAttributeCount));
    EXPECT_STREQ(knownAttributeName(Unnamed), "");
    EXPECT_STREQ(knownAttributeName(XMicrosoftAjax), "X-MicrosoftAjax");
    EXPECT_STREQ(knownAttributeName(SslClientVerify), "SSL-CLIENT-VERIFY");
    for (int i : {42, 55, 57, 61}) EXPECT_EQ(std::string(knownAttributeName(i)).rfind("X-Velnor-", 0), 0u);
    Header h = parsed("HTTP/1.1 200 OK\r\n: odd\r\n\r\n");
    h.setKnownAttribute(Unnamed, "x"_s);
    EXPECT_EQ(str(h.knownAttribute(Unnamed)), "");
    EXPECT_EQ(str(h.toString()), "HTTP/1.1 200 OK\r\n: odd\r\n\r\n");
}

TEST(HeaderTest, AMatchingLastLineWithoutLfIsAMalformedHeader) {
    // A header made by hand can end without an LF.
    struct Malformed : Header {
        explicit Malformed(const char* t) { m_text = String(t); }
    };
    Malformed last("GET / HTTP/1.1\r\nContent-Length: 5");
    EXPECT_EQ(thrown([&] { last.getAttribute("content-length"); }), "EBadHeader:header:459");
    EXPECT_EQ(thrown([&] { last.removeAttribute("content-length"); }), "EBadHeader:header:377");
    EXPECT_EQ(thrown([&] { last.getAttribute("host"); }), "");
    EXPECT_EQ(thrown([&] { last.contentLength(); }), "EBadHeader:header:459");

    test::LogCapture capture;
    thrown([&] { last.getAttribute("content-length"); });
    std::stringstream log;
    log << capture.text();
    EXPECT_NE(log.str().find("TRACE http.Header.getAttribute bad header: GET / HTTP/1.1\r\nContent-Length: 5\n"),
              std::string::npos)
        << log.str();
}

TEST(RequestHeaderTest, MethodUriAndCookies) {
    RequestHeader h;
    String input = "POST  /rpc HTTP/1.1\r\nCookie: a=1; b = two\r\nContent-Length: 0\r\n\r\n"_s;
    ASSERT_TRUE(h.parse(input));
    EXPECT_EQ(str(h.method()), "POST");
    EXPECT_EQ(str(h.uri()), "/rpc");
    ASSERT_EQ(h.cookies().count(), 2u);
    EXPECT_EQ(str(h.cookies()[1].name), "b");
    EXPECT_EQ(str(h.cookies()[1].value), "two");
    h.setMethod("GET"_s);
    h.setUri("/other/path"_s);
    Array<RequestCookie> cookies;
    cookies.append({"s"_s, "1"_s});
    cookies.append({"t"_s, "2"_s});
    h.setCookies(cookies);
    EXPECT_EQ(str(h.toString()), "GET  /other/path HTTP/1.1\r\nContent-Length: 0\r\nCookie: s=1; t=2\r\n\r\n");
}

TEST(RequestHeaderTest, RewritingAMalformedRequestLineThrows) {
    struct Case {
        const char* line;
        bool method;
        const char* text;
    } cases[] = {
        {"GET\r\n\r\n", true, "EBadHeader:request:63"},
        {"GET\r\n\r\n", false, "EBadHeader:request:75"},
        {"GET /x\r\n\r\n", false, "EBadHeader:request:86"},
        {"GET /x HTTP/1.0\r\n\r\n", false, ""},
    };
    for (const Case& c : cases) {
        RequestHeader h;
        String input(c.line);
        ASSERT_TRUE(h.parse(input));
        if (c.method) h.setMethod("PUT"_s);
        else h.setUri("/y"_s);
        EXPECT_EQ(thrown([&] { h.toString(); }), c.text) << c.line;
    }
}

TEST(ResponseHeaderTest, StatusCookiesAndEntityTag) {
    ResponseHeader h;
    String input = "HTTP/1.1 404 Not Found\r\nSet-Cookie: id=7; Path=/; Secure; flavour=\"x\"\r\nETag: W/\"v1\"\r\n\r\n"_s;
    ASSERT_TRUE(h.parse(input));
    EXPECT_EQ(h.statusCode(), 404);
    ASSERT_EQ(h.cookies().count(), 1u);
    EXPECT_EQ(str(h.cookies()[0].name), "id");
    EXPECT_EQ(str(h.cookies()[0].path), "/");
    EXPECT_TRUE(h.cookies()[0].secure);
    EXPECT_EQ(str(h.cookies()[0].attributes[0].value), "x");
    EXPECT_EQ(str(h.entityTag()), "v1");
    EXPECT_TRUE(h.isWeakEntityTag());

    h.setStatusCode(200);
    ResponseCookie cookie;
    cookie.name = "s"_s;
    cookie.value = "v"_s;
    cookie.domain = "example"_s;
    cookie.path = "/p"_s;
    cookie.expires = "Thu, 01 Jan 2037 00:00:00 GMT"_s;
    cookie.secure = true;
    cookie.maxAge = "60"_s;
    cookie.attributes.append({"k"_s, "w"_s});
    Array<ResponseCookie> cookies;
    cookies.append(cookie);
    h.setCookies(cookies);
    h.setEntityTag("v2"_s, false);
    EXPECT_EQ(str(h.toString()),
              "HTTP/1.1 200 Not Found\r\nSet-Cookie: s=v; domain=example; path=/p; expires=\"Thu, 01 Jan 2037 "
              "00:00:00 GMT\"; k=\"w\"; secure; max-age=60\r\nETag: \"v2\"\r\n\r\n");

    ResponseHeader bad;
    String line = "HTTP/1.1\r\n\r\n"_s;
    ASSERT_TRUE(bad.parse(line));
    bad.setStatusCode(500);
    EXPECT_EQ(thrown([&] { bad.toString(); }), "EBadHeader:response:95");
    ResponseHeader noCode;
    String spaced = "HTTP/1.1 \r\n\r\n"_s;
    ASSERT_TRUE(noCode.parse(spaced));
    noCode.setStatusCode(500);
    EXPECT_EQ(thrown([&] { noCode.toString(); }), "EBadHeader:response:106");
}

}  // namespace
