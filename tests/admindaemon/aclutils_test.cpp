// The pipe's protection as the daemon builds it: identifiers, descriptor,
// failures, and what another uid can do to a pipe socket protected by it.
#include "AclUtils.h"

#include "base/arch/posix/pipesecurity.h"
#include "base/exception.h"
#include "support/childprocess.h"
#include "support/pipepeer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

using namespace trivane;
using testsupport::TempDir;

namespace {

constexpr uid_t s_nobody = 65534;

std::string bytes(const Memory& m) { return std::string(m.data(), m.length()); }

TEST(AclUtils, IdentifiersAreTheUserAndEveryone) {
    EXPECT_EQ(bytes(AclUtils::getEveryoneSid()->bytes()), std::string("\1\1\0\0\0\0\0\1\0\0\0\0", 12));
    const uid_t uid = geteuid();
    const std::string user = std::string("\1\2\0\0\0\0\0\x16\1\0\0\0", 12) +
                             std::string{char(uid), char(uid >> 8), char(uid >> 16), char(uid >> 24)};
    EXPECT_EQ(bytes(AclUtils::getProcessUserSid()->bytes()), user);
}

TEST(AclUtils, DescriptorLetsEveryoneConnectAndTheUserCreate) {
    sys::SecurityDescriptor* descriptor = nullptr;
    sys::Acl* acl = nullptr;
    AclUtils::buildSecurityDescriptor(AclUtils::getProcessUserSid(), AclUtils::getEveryoneSid(), descriptor, acl);
    ASSERT_NE(descriptor, nullptr);
    ASSERT_NE(acl, nullptr);
    EXPECT_TRUE(sys::everyoneMayConnect(descriptor));
    EXPECT_EQ(sys::pipeCreator(descriptor), static_cast<int64_t>(geteuid()));
}

TEST(AclUtils, FailuresThrowWithTheirCode) {
    sys::SecurityDescriptor* descriptor = nullptr;
    sys::Acl* acl = nullptr;
    const gc::Pointer<SecurityId> broken = gc::Pointer<SecurityId>::adopt(new SecurityId(Memory("\1\5", 2)));
    struct Case {
        gc::Pointer<SecurityId> user, everyone;
        int32_t code;
    };
    const Case cases[] = {
        {broken, AclUtils::getEveryoneSid(), 1337},
        {AclUtils::getProcessUserSid(), nullptr, 1337},
        // Both entries for everyone: everyone would create instances.
        {AclUtils::getEveryoneSid(), AclUtils::getEveryoneSid(), 87},
    };
    for (const Case& c : cases) {
        try {
            AclUtils::buildSecurityDescriptor(c.user, c.everyone, descriptor, acl);
            ADD_FAILURE() << "no exception for code " << c.code;
        } catch (const Exception& e) {
            const String text = e.text();
            const std::string s(text.data(), text.length());
            EXPECT_EQ(s.substr(0, 28), "trivane::Exception:AclUtils:");
            EXPECT_EQ(s.substr(s.find('(')), "(" + std::to_string(c.code) + ")");
            EXPECT_EQ(e.code(), c.code);
        }
    }
}

TEST(AclUtils, AnotherUserConnectsButCannotCreateOrReplaceTheSocket) {
    TempDir dir;
    const std::string pipeDir = dir / "run/pipe";
    sys::SecurityDescriptor* descriptor = nullptr;
    sys::Acl* acl = nullptr;
    AclUtils::buildSecurityDescriptor(AclUtils::getProcessUserSid(), AclUtils::getEveryoneSid(), descriptor, acl);

    uint32_t error = 1;
    const int dirFd = sys::openPipeDirectory(String(pipeDir.c_str()), error);
    ASSERT_GE(dirFd, 0) << error;
    struct stat st;
    ASSERT_EQ(stat(pipeDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    String path = sys::pipeSocketPath(dirFd, "gate_admin_daemon");
    const int server = testsupport::listenAt(path.cStr());
    ASSERT_GE(server, 0);
    ASSERT_EQ(sys::protectPipeSocket(dirFd, "gate_admin_daemon", descriptor), 0u);
    const std::string socketPath = pipeDir + "/gate_admin_daemon";
    ASSERT_EQ(stat(socketPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    struct Case {
        const char* what;
        std::function<int()> attempt;
        int expected;
    };
    const Case cases[] = {
        {"connect", [&] { return testsupport::connectTo(socketPath); }, 0},
        {"bind beside", [&] { return testsupport::listenAt(pipeDir + "/gate_admin_daemon2") < 0 ? errno : 0; }, EACCES},
        {"remove", [&] { return unlink(socketPath.c_str()) == 0 ? 0 : errno; }, EACCES},
        {"replace",
         [&] {
             const std::string mine = "/tmp/trivane-nobody-" + std::to_string(getpid());
             const int fd = testsupport::listenAt(mine);
             const int result = rename(mine.c_str(), socketPath.c_str()) == 0 ? 0 : errno;
             unlink(mine.c_str());
             if (fd >= 0) close(fd);
             return result;
         },
         EACCES},
    };
    for (const Case& c : cases) EXPECT_EQ(testsupport::asUser(s_nobody, c.attempt), c.expected) << c.what;
    ASSERT_EQ(stat(socketPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    close(server);
    close(dirFd);
}

}  // namespace
