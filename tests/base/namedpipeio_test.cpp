// Named-pipe streams over the real pipe sockets: opening, reading and
// writing with their time-outs, the listening end, and client identity.
#include "base/namedpipeio.h"

#include "base/clock.h"

#include "support/pipedir.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/utsname.h>

#include <cstring>
#include <string>
#include <vector>

using namespace trivane;
using test::str;
using test::thrown;
using pipetest::PipeDir;

namespace {

IMutex& noLock() { return NoMutex::instance(); }

SocketAddress pipeAddress(const char* name) {
    SocketAddress address;
    address.set(SocketAddress::HostName, String(name), String());
    return address;
}

std::string shortHostName() {
    utsname host;
    uname(&host);
    std::string name = host.nodename;
    return name.substr(0, name.find('.'));
}

// A listening pipe and one connected client with its accepted end.
struct Connected {
    explicit Connected(int instances = 3, const sys::SecurityAttributes* attributes = nullptr) {
        if (attributes) server.setSecurityAttributes(attributes);
        server.listen("connected"_s, instances);
        client.connect(pipeAddress("connected"), 0, noLock(), String());
        accepted = server.accept(2000, noLock());
    }
    NamedPipeIO& end() { return static_cast<NamedPipeIO&>(*accepted); }

    ServerNamedPipeIo server;
    NamedPipeIO client;
    gc::Pointer<IO> accepted;
};

class NamedPipeTest : public ::testing::Test {
protected:
    PipeDir dir;
};

TEST_F(NamedPipeTest, OpeningFailsAtOnceWithTheWindowsNumber) {
    ServerNamedPipeIo server;
    server.listen("busy"_s, 1);
    // The listening end never accepts: the backlog fills and later opens are busy.
    std::vector<gc::Pointer<NamedPipeIO>> clients;
    std::string busy;
    for (int i = 0; i < 16 && busy.empty(); ++i) {
        gc::Pointer<NamedPipeIO> client(new NamedPipeIO());
        busy = thrown([&] { client->connect(pipeAddress("busy"), 0, noLock(), String()); });
        clients.push_back(client);
    }
    EXPECT_EQ(busy, "ENamedPipeIO:namedpipeio:330(231)");
    struct Case {
        const char* name;
        const char* error;
    };
    for (const Case& c : {Case{"missing", "ENamedPipeIO:namedpipeio:330(2)"},
                          Case{"../busy", "ENamedPipeIO:namedpipeio:330(123)"},
                          Case{"", "ENamedPipeIO:namedpipeio:330(123)"}}) {
        NamedPipeIO client;
        EXPECT_EQ(thrown([&] { client.connect(pipeAddress(c.name), 0, noLock(), String()); }), c.error) << c.name;
        EXPECT_FALSE(client.isValid());
    }
    ServerNamedPipeIo outside;
    EXPECT_EQ(thrown([&] { outside.listen("sub/name"_s, 1); }), "ENamedPipeIO:namedpipeio:392(123)");
}

TEST_F(NamedPipeTest, BytesCrossBothWaysAndAPushedBackByteComesFirst) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    EXPECT_STREQ(c.accepted->className(), "NamedPipeIO");
    c.client.writeAll("hello pipe", 10, noLock());
    ASSERT_TRUE(c.end().waitReadable(2000, noLock()));
    EXPECT_TRUE(c.end().waitReadable(0, noLock()));  // already there: no wait
    char buffer[65535];
    uint32_t got = 0;
    while (got < 10) got += static_cast<uint32_t>(c.end().read(buffer + got, 65535 - got, noLock()));
    EXPECT_EQ(std::string(buffer, got), "hello pipe");
    // A read after the wait delivers what came without waiting for more.
    c.client.writeAll("!", 1, noLock());
    ASSERT_TRUE(c.end().waitReadable(2000, noLock()));
    c.end().setReadTimeout(3000);
    const uint64_t before = steadyMilliseconds();
    EXPECT_EQ(c.end().read(buffer, 65535, noLock()), 1);
    EXPECT_LT(steadyMilliseconds() - before, 3000u);
    c.end().writeAll("back", 4, noLock());
    String text;
    c.client.readString(text, 4, noLock());
    EXPECT_EQ(str(text), "back");
}

TEST_F(NamedPipeTest, ASilentPipeTimesOutWithNothingRead) {
    Connected c;
    c.end().setReadTimeout(200);
    char byte;
    EXPECT_EQ(c.end().read(&byte, 1, noLock()), 0);
    EXPECT_FALSE(c.end().waitReadable(100, noLock()));
    // Nothing stays pending: a byte sent now is the next one read.
    c.client.writeAll("x", 1, noLock());
    EXPECT_EQ(c.end().read(&byte, 1, noLock()), 1);
    EXPECT_EQ(byte, 'x');
}

TEST_F(NamedPipeTest, AClientThatHasGoneIsABrokenPipeNotASignal) {
    Connected c;
    c.client.close();
    char byte;
    EXPECT_EQ(thrown([&] { c.end().read(&byte, 1, noLock()); }), "ENamedPipeIO:namedpipeio:200(109)");
    EXPECT_EQ(thrown([&] { c.end().write("reply", 5, noLock()); }), "ENamedPipeIO:namedpipeio:121(232)");
}

TEST_F(NamedPipeTest, ClosedStreamsAndUnsupportedCallsThrow) {
    NamedPipeIO closed;
    char byte;
    EXPECT_EQ(thrown([&] { closed.read(&byte, 1, noLock()); }), "ENamedPipeIO:namedpipeio:163");
    EXPECT_EQ(thrown([&] { closed.write("x", 1, noLock()); }), "ENamedPipeIO:namedpipeio:112");
    EXPECT_EQ(thrown([&] { closed.setNonBlocking(); }), "ENotImplemented:namedpipeio:76");
    EXPECT_EQ(thrown([&] { closed.accept(0, noLock()); }), "IOException:io:204");
}

TEST_F(NamedPipeTest, TheListeningEndHandsOverOneClientPerAccept) {
    ServerNamedPipeIo server;
    EXPECT_FALSE(server.isValid());
    server.listen("accepting"_s, 3);
    EXPECT_TRUE(server.isValid());
    EXPECT_EQ(str(server.pipeName()), "\\\\.\\pipe\\accepting");
    EXPECT_FALSE(server.waitReadable(100, noLock()));
    EXPECT_FALSE(server.accept(100, noLock()));
    NamedPipeIO clients[3];
    for (NamedPipeIO& client : clients) client.connect(pipeAddress("accepting"), 0, noLock(), String());
    ASSERT_TRUE(server.waitReadable(2000, noLock()));
    for (int i = 0; i < 3; ++i) {
        gc::Pointer<IO> accepted = server.accept(2000, noLock());
        ASSERT_TRUE(accepted) << i;
        EXPECT_TRUE(accepted->isValid());
    }
}

TEST_F(NamedPipeTest, ASocketLeftByADeadServerIsReplacedALiveOneIsNot) {
    const std::string path = dir.path("stale");
    {
        // Bound and never listened on: nothing answers there any more.
        const int s = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(s);
    }
    ServerNamedPipeIo first;
    first.listen("stale"_s, 3);
    ServerNamedPipeIo second;
    EXPECT_EQ(thrown([&] { second.listen("stale"_s, 3); }), "ENamedPipeIO:namedpipeio:392(5)");
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    first.close();
    EXPECT_NE(stat(path.c_str(), &st), 0) << "closing removes the socket";
    second.listen("stale"_s, 3);
    EXPECT_TRUE(second.isValid());
}

TEST_F(NamedPipeTest, TheSocketModeFollowsTheSecurityAttributes) {
    struct Case {
        const sys::SecurityAttributes* attributes;
        mode_t mode;
    };
    const Case cases[] = {{nullptr, 0600}, {pipetest::everyoneMayConnect(), 0666}};
    for (const Case& c : cases) {
        ServerNamedPipeIo server;
        if (c.attributes) server.setSecurityAttributes(c.attributes);
        server.listen("moded"_s, 3);
        struct stat st;
        ASSERT_EQ(stat(dir.path("moded").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.mode);
    }
}

TEST_F(NamedPipeTest, TheClientIsKnownByItsAccountAndElevation) {
    ServerNamedPipeIo server;
    server.setSecurityAttributes(pipetest::everyoneMayConnect());
    server.listen("identity"_s, 3);
    const std::string host = shortHostName();
    struct Case {
        uid_t uid;
        std::string user;
        bool elevated;
    };
    for (const Case& c : {Case{0, "root@" + host, true}, Case{pipetest::nobody, "nobody@" + host, false}}) {
        // The child opens the pipe and waits until the server has looked.
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            if (setresgid(c.uid, c.uid, c.uid) != 0 || setresuid(c.uid, c.uid, c.uid) != 0) _exit(2);
            NamedPipeIO client;
            try {
                client.connect(pipeAddress("identity"), 0, noLock(), String());
            } catch (const Exception&) {
                _exit(3);
            }
            char done;
            _exit(read(ready[0], &done, 1) == 1 ? 0 : 4);
        }
        gc::Pointer<IO> accepted = server.accept(5000, noLock());
        ASSERT_TRUE(accepted);
        auto& end = static_cast<NamedPipeIO&>(*accepted);
        EXPECT_EQ(str(end.clientUserName()), c.user);
        EXPECT_EQ(end.isClientElevated(), c.elevated) << c.user;
        ASSERT_EQ(write(ready[1], "k", 1), 1);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        close(ready[0]);
        close(ready[1]);
    }
}

TEST_F(NamedPipeTest, AnotherUserCanNeitherConnectByDefaultNorTakeTheName) {
    ServerNamedPipeIo server;
    server.listen("guarded"_s, 3);
    const int connectResult = pipetest::asUser(pipetest::nobody, [] {
        NamedPipeIO client;
        try {
            client.connect(pipeAddress("guarded"), 0, noLock(), String());
        } catch (const ENamedPipeIO& e) {
            return e.code() == 5 ? 0 : 1;
        }
        return 2;
    });
    EXPECT_EQ(connectResult, 0) << "the default protection admits only the creator";
    server.close();
    // Even with no server, the directory keeps other users from creating
    // or replacing the pipe.
    const int listenResult = pipetest::asUser(pipetest::nobody, [] {
        ServerNamedPipeIo other;
        try {
            other.listen("guarded"_s, 3);
        } catch (const ENamedPipeIO& e) {
            return e.line() == 392 && e.code() == 5 ? 0 : 1;
        }
        return 2;
    });
    EXPECT_EQ(listenResult, 0);
}

}  // namespace
