#include "base/io.h"
#include "base/socket2.h"
#include "base/socketio.h"

#include <gtest/gtest.h>

#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

struct ParseCase {
    const char* text;
    int32_t kind;
    const char* host;
    const char* port;
    const char* extra;
    const char* printed;
};

TEST(SocketAddressTest, ParseClassifiesAndPrintsEachForm) {
    const ParseCase cases[] = {
        {"[::1]:8080", 5, "::1", "8080", "", "[::1]:8080"},
        {"localhost:80", 1, "localhost", "80", "", "localhost:80"},
        {"localhost.localdomain:80", 1, "localhost.localdomain", "80", "", "localhost.localdomain:80"},
        {"127.0.0.1:1195", 1, "127.0.0.1", "1195", "", "127.0.0.1:1195"},
        {"ip6-localhost:22", 2, "ip6-localhost", "22", "", "[ip6-localhost]:22"},
        {"ip6-loopback:22", 2, "ip6-loopback", "22", "", "[ip6-loopback]:22"},
        {"example.org:443", 3, "example.org", "443", "", "example.org:443"},
        {"10.0.0.300:80", 3, "10.0.0.300", "80", "", "10.0.0.300:80"},
        {"10.0.0:80", 3, "10.0.0", "80", "", "10.0.0:80"},
        {"1.2.3.4.5:80", 3, "1.2.3.4.5", "80", "", "1.2.3.4.5:80"},
        {"10.1.2.255:80", 4, "10.1.2.255", "80", "", "10.1.2.255:80"},
        {"10.1.2.3:80:tls", 4, "10.1.2.3", "80", "tls", "10.1.2.3:80:tls"},
        {"[fe80::1]:9:a:b", 5, "fe80::1", "9", "a:b", "[fe80::1]:9:a:b"},
        {"host", 0, "", "", "", "<invalid address>"},
        {"host:", 0, "", "", "", "<invalid address>"},
        {"host::x", 0, "", "", "", "<invalid address>"},
        {"[]:80", 0, "", "", "", "<invalid address>"},
        {"[::1]", 0, "", "", "", "<invalid address>"},
        {"[::1]80", 0, "", "", "", "<invalid address>"},
        {"a[b:80", 0, "", "", "", "<invalid address>"},
        {"", 0, "", "", "", "<invalid address>"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        SocketAddress a(String(c.text));
        EXPECT_EQ(a.kind(), c.kind);
        EXPECT_EQ(str(a.host()), c.host);
        EXPECT_EQ(str(a.port()), c.port);
        EXPECT_EQ(str(a.extra()), c.extra);
        EXPECT_EQ(str(a.text()), c.printed);
    }
}

struct SetCase {
    const char* host;
    int32_t kind;
    const char* printed;
};

TEST(SocketAddressTest, SetClassifiesABareHost) {
    const SetCase cases[] = {
        {"localhost", 1, "localhost:7"},
        {"::1", 2, "[::1]:7"},
        {"[fe80::2]", 5, "[fe80::2]:7"},
        {"fe80::2", 5, "[fe80::2]:7"},
        {"192.168.0.1", 4, "192.168.0.1:7"},
        {"intranet", 3, "intranet:7"},
        {"intranet:80", 0, "<invalid address>"},
        {"[x", 0, "<invalid address>"},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.host);
        SocketAddress a;
        a.set(String(c.host), "7"_s);
        EXPECT_EQ(a.kind(), c.kind);
        EXPECT_EQ(str(a.text()), c.printed);
    }
}

TEST(SocketAddressTest, EveryKindHasItsTextForm) {
    const char* printed[] = {"<invalid address>", "h:1", "[h]:1", "h:1", "h:1",
                             "[h]:1", "<invalid address>", "h:1", "h:1", "[h]:1",
                             "[h]:1", "[h]:1", "[h]:1", "h:1", "<invalid address>"};
    for (int32_t kind = 0; kind <= 14; ++kind) {
        SocketAddress a;
        a.set(kind, "h"_s, "1"_s);
        EXPECT_EQ(str(a.text()), printed[kind]) << kind;
    }
    SocketAddress unknown;
    unknown.set(15, "h"_s, "1"_s);
    EXPECT_EQ(str(unknown.text()), "<invalid address>");
}

// The addresses a real connection reports, in both families and through an
// IPv6 listener reached over IPv4.
TEST(SocketAddressTest, SystemAddressesOfRealConnections) {
    struct Case {
        const char* listen;
        const char* connectHost;
        int32_t kind;
        const char* host;
    } cases[] = {
        {"127.0.0.1:0", "127.0.0.1", 4, "127.0.0.1"},
        {"[::1]:0", "::1", 5, "::1"},
        {"[::]:0", "127.0.0.1", 5, "127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listen);
        SocketIO server;
        server.listen(SocketAddress(String(c.listen)), true, 5, String());
        SocketAddress bound;
        server.localAddress(bound);
        ASSERT_GT(bound.port().toInt(), 0);

        SocketIO client;
        SocketAddress target;
        target.set(String(c.connectHost), bound.port());
        client.connect(target, 2000, NoMutex::instance(), String());
        gc::Pointer<IO> accepted = server.accept(2000, NoMutex::instance());
        ASSERT_TRUE(accepted);

        SocketAddress peer;
        accepted->remoteAddress(peer);
        EXPECT_EQ(peer.kind(), c.kind);
        EXPECT_EQ(str(peer.host()), c.host);
        SocketAddress clientLocal;
        client.localAddress(clientLocal);
        EXPECT_TRUE(peer.port() == clientLocal.port());
    }
}

TEST(SocketAddressTest, AClosedSocketHasTheInvalidKind) {
    Socket s;
    EXPECT_EQ(s.remoteAddress().kind(), 14);
    EXPECT_EQ(str(s.localAddress().text()), "<invalid address>");
}

}  // namespace
