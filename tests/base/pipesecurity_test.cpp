// The pipe directory checks and socket modes of the Linux pipe protection.
#include "base/arch/posix/pipesecurity.h"
#include "support/childprocess.h"
#include "support/pipepeer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>

using namespace trivane;
using testsupport::TempDir;

namespace {

TEST(PipeSecurity, RefusesAPipeDirectoryAnotherUserCouldFill) {
    struct Case {
        const char* what;
        std::function<void(const std::string& dir)> prepare;
        uint32_t error;
    };
    const Case cases[] = {
        {"present and sound", [](const std::string& dir) { mkdir(dir.c_str(), 0700); }, 0},
        {"owned by another user", [](const std::string& dir) { mkdir(dir.c_str(), 0755); EXPECT_EQ(chown(dir.c_str(), 65534, 65534), 0); }, 5},
        {"writable by its group", [](const std::string& dir) { mkdir(dir.c_str(), 0755); chmod(dir.c_str(), 0775); }, 5},
        {"writable by others", [](const std::string& dir) { mkdir(dir.c_str(), 0755); chmod(dir.c_str(), 01777); }, 5},
        {"a link to a sound directory",
         [](const std::string& dir) {
             mkdir((dir + ".real").c_str(), 0755);
             EXPECT_EQ(symlink((dir + ".real").c_str(), dir.c_str()), 0);
         },
         5},
        {"a file", [](const std::string& dir) { testsupport::writeFile(dir, "x", 0644); }, 5},
    };
    for (const Case& c : cases) {
        TempDir base;
        const std::string dir = base / "pipe";
        c.prepare(dir);
        uint32_t error = 99;
        const int fd = sys::openPipeDirectory(String(dir.c_str()), error);
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(fd >= 0, c.error == 0) << c.what;
        if (fd >= 0) close(fd);
    }
}

TEST(PipeSecurity, WithoutADescriptorOnlyTheOwnerConnects) {
    TempDir base;
    uint32_t error = 99;
    const int dirFd = sys::openPipeDirectory(String((base / "a/b/pipe").c_str()), error);
    ASSERT_GE(dirFd, 0);
    String path = sys::pipeSocketPath(dirFd, "p");
    const int server = testsupport::listenAt(path.cStr());
    ASSERT_GE(server, 0);
    ASSERT_EQ(sys::protectPipeSocket(dirFd, "p", nullptr), 0u);
    struct stat st;
    ASSERT_EQ(stat((base / "a/b/pipe/p").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(testsupport::asUser(65534, [&] { return testsupport::connectTo(base / "a/b/pipe/p"); }), EACCES);
    EXPECT_EQ(testsupport::connectTo(base / "a/b/pipe/p"), 0);
    // Only a socket is given a mode.
    testsupport::writeFile(base / "a/b/pipe/file", "", 0600);
    EXPECT_EQ(sys::protectPipeSocket(dirFd, "file", nullptr), 5u);
    EXPECT_EQ(sys::protectPipeSocket(dirFd, "missing", nullptr), 2u);
    close(server);
    close(dirFd);
}

TEST(PipeSecurity, AclEntriesASocketModeCannotExpressAreRefused) {
    Memory user, everyone;
    ASSERT_EQ(sys::processUserSid(user), 0u);
    ASSERT_EQ(sys::everyoneSid(everyone), 0u);
    Memory otherUser = user;
    otherUser.writableData()[12] ^= 1;
    const uint32_t rw = sys::fileGenericRead | sys::fileGenericWrite;
    struct Case {
        const char* what;
        std::vector<sys::AccessEntry> entries;
        uint32_t error;
        bool everyoneConnects;
    };
    const Case cases[] = {
        {"everyone reads and writes, the user creates", {{everyone, rw & ~sys::fileCreatePipeInstance}, {user, rw}}, 0, true},
        {"the user alone", {{user, rw}}, 0, false},
        {"everyone may only read", {{everyone, sys::fileGenericRead}, {user, rw}}, 0, false},
        {"everyone creates", {{everyone, rw}, {user, rw}}, 87, false},
        {"two creators", {{user, rw}, {otherUser, rw}}, 87, false},
        {"another user reads and writes", {{otherUser, rw & ~sys::fileCreatePipeInstance}, {user, rw}}, 87, false},
        {"a malformed identifier", {{Memory("\1\1\0", 3), rw}}, 1337, false},
    };
    for (const Case& c : cases) {
        sys::Acl* acl = nullptr;
        EXPECT_EQ(sys::setEntriesInAcl(c.entries.data(), static_cast<uint32_t>(c.entries.size()), acl), c.error) << c.what;
        if (c.error != 0) continue;
        sys::SecurityDescriptor* descriptor = nullptr;
        ASSERT_EQ(sys::createSecurityDescriptor(acl, descriptor), 0u);
        EXPECT_EQ(sys::everyoneMayConnect(descriptor), c.everyoneConnects) << c.what;
    }
}

}  // namespace
