#include "base/securedir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat s;
    return lstat(path.c_str(), &s) == 0;
}

unsigned modeOf(const std::string& path) {
    struct stat s;
    return lstat(path.c_str(), &s) == 0 ? s.st_mode & 07777 : 0;
}

class SecureDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/securedir_test.XXXXXX";
        temp = mkdtemp(pattern);
        // The temporary directory of the machine: anyone may add to it.
        ASSERT_EQ(chmod(temp.c_str(), 01777), 0);
        elsewhere = temp + "/elsewhere";
        ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + temp + "'").c_str()); }
    void sh(const std::string& command) {
        std::string c = command;
        for (size_t at; (at = c.find("{t}")) != std::string::npos;) c.replace(at, 3, temp);
        ASSERT_EQ(std::system(c.c_str()), 0) << c;
    }
    uint32_t openVpn(SecureDirectory& d) { return d.open(String((temp + "/").c_str()), "Velnor/AdminDaemon/VPN/alice_host"_s); }
    std::string temp, elsewhere;
};

TEST_F(SecureDirectoryTest, CreatesTheChainPrivately) {
    SecureDirectory d;
    ASSERT_EQ(openVpn(d), 0u);
    EXPECT_EQ(str(d.path()), temp + "/Velnor/AdminDaemon/VPN/alice_host/");
    for (const char* part : {"/Velnor", "/Velnor/AdminDaemon", "/Velnor/AdminDaemon/VPN", "/Velnor/AdminDaemon/VPN/alice_host"})
        EXPECT_EQ(modeOf(temp + part), 0700u) << part;
    SecureDirectory again;
    EXPECT_EQ(again.open(String(temp.c_str()), "Velnor\\AdminDaemon\\VPN\\alice_host"_s), 0u);
    EXPECT_EQ(str(again.path()), temp + "/Velnor/AdminDaemon/VPN/alice_host/");
}

// Another local user got there first: whatever is planted on the way is
// refused and nothing is made or removed through it.
TEST_F(SecureDirectoryTest, PlantedDirectoriesAreRefused) {
    struct Case {
        const char* name;
        std::string plant;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"a link for the first directory", "mkdir -p {t}/elsewhere/AdminDaemon/VPN/alice_host && "
                                           "echo keep > {t}/elsewhere/AdminDaemon/VPN/alice_host/openvpn.log && "
                                           "ln -s {t}/elsewhere {t}/Velnor", 5},
        {"a link for the user's directory", "mkdir -p -m 700 {t}/Velnor/AdminDaemon/VPN && "
                                            "ln -s {t}/elsewhere {t}/Velnor/AdminDaemon/VPN/alice_host", 5},
        {"a directory of another user", "mkdir -p -m 700 {t}/Velnor/AdminDaemon && chown 65534 {t}/Velnor/AdminDaemon", 5},
        {"a group-writable directory", "mkdir -p -m 770 {t}/Velnor", 5},
        {"a directory writable by others", "mkdir -p -m 700 {t}/Velnor/AdminDaemon/VPN && chmod 703 {t}/Velnor/AdminDaemon/VPN", 5},
        {"a file instead of a directory", "mkdir -p -m 700 {t}/Velnor && touch {t}/Velnor/AdminDaemon", 5},
        {"a private directory of ours is fine", "mkdir -p -m 755 {t}/Velnor", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        sh(c.plant);
        SecureDirectory d;
        EXPECT_EQ(openVpn(d), c.error);
        EXPECT_EQ(d.isOpen(), c.error == 0);
        EXPECT_FALSE(exists(elsewhere + "/alice_host"));
        EXPECT_FALSE(exists(elsewhere + "/VPN"));
        if (exists(elsewhere + "/AdminDaemon")) {
            EXPECT_EQ(readFile(elsewhere + "/AdminDaemon/VPN/alice_host/openvpn.log"), "keep\n");
        }
    }
}

TEST_F(SecureDirectoryTest, BadComponentsAreRefused) {
    for (const char* relative : {"Velnor/../x", "Velnor/./x", "Velnor//x", "/Velnor"}) {
        SCOPED_TRACE(relative);
        SecureDirectory d;
        EXPECT_EQ(d.open(String(temp.c_str()), String(relative)), 123u);
    }
}

// The directory is used through what was checked, even when its name is
// given to something else afterwards.
TEST_F(SecureDirectoryTest, ADirectorySwappedAfterTheCheckRedirectsNothing) {
    SecureDirectory d;
    ASSERT_EQ(openVpn(d), 0u);
    sh("mv {t}/Velnor/AdminDaemon/VPN/alice_host {t}/Velnor/AdminDaemon/VPN/moved && "
       "ln -s {t}/elsewhere {t}/Velnor/AdminDaemon/VPN/alice_host");
    EXPECT_EQ(d.writeFile("velnor.ovpn"_s, "text"_s), 0u);
    EXPECT_FALSE(exists(elsewhere + "/velnor.ovpn"));
    EXPECT_EQ(readFile(temp + "/Velnor/AdminDaemon/VPN/moved/velnor.ovpn"), "text");
}

TEST_F(SecureDirectoryTest, FilesArePrivateAndWrittenWhole) {
    SecureDirectory d;
    ASSERT_EQ(openVpn(d), 0u);
    const std::string vpn = temp + "/Velnor/AdminDaemon/VPN/alice_host/";
    sh("echo a-much-longer-earlier-text > " + vpn + "client.key && chmod 644 " + vpn + "client.key");
    EXPECT_EQ(d.writeFile("client.key"_s, "KEY"_s), 0u);
    EXPECT_EQ(readFile(vpn + "client.key"), "KEY");
    EXPECT_EQ(modeOf(vpn + "client.key"), 0600u);
    EXPECT_EQ(d.writeFile("new"_s, String("a\0b", 3)), 0u);
    EXPECT_EQ(readFile(vpn + "new"), std::string("a\0b", 3));
    EXPECT_EQ(modeOf(vpn + "new"), 0600u);

    sh("echo keep > {t}/elsewhere/target && ln -s {t}/elsewhere/target " + vpn + "link && mkfifo " + vpn + "fifo");
    bool opened = true;
    EXPECT_EQ(d.writeFile("link"_s, "x"_s, &opened), 5u);
    EXPECT_FALSE(opened);
    EXPECT_EQ(d.writeFile("fifo"_s, "x"_s), 5u);
    EXPECT_EQ(readFile(elsewhere + "/target"), "keep\n");
    EXPECT_EQ(d.writeFile("a/b"_s, "x"_s), 123u);

    EXPECT_EQ(d.removeFile("link"_s), 0u);
    EXPECT_FALSE(exists(vpn + "link"));
    EXPECT_TRUE(exists(elsewhere + "/target"));
    EXPECT_EQ(d.removeFile("link"_s), 2u);
    d.close();
    EXPECT_EQ(d.writeFile("x"_s, "x"_s), 6u);
}

// A write the file system cuts short is a failure, not a truncated success.
TEST_F(SecureDirectoryTest, AnIncompleteWriteFails) {
    SecureDirectory d;
    ASSERT_EQ(openVpn(d), 0u);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool opened = false;
        const uint32_t error = d.writeFile("velnor.ovpn"_s, String(std::string(1000, 'x').c_str()), &opened);
        _exit(error != 0 && opened ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(temp + "/Velnor/AdminDaemon/VPN/alice_host/velnor.ovpn").size(), 100u);
}

TEST_F(SecureDirectoryTest, WritingByPath) {
    const std::string path = temp + "/file";
    EXPECT_EQ(writePrivateFile(String(path.c_str()), "one"_s), 0u);
    EXPECT_EQ(readFile(path), "one");
    EXPECT_EQ(modeOf(path), 0600u);
    sh("ln -s {t}/elsewhere/target {t}/link");
    bool opened = true;
    EXPECT_EQ(writePrivateFile(String((temp + "/link").c_str()), "x"_s, &opened), 5u);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(exists(elsewhere + "/target"));
    EXPECT_EQ(writePrivateFile(String((temp + "/missing/file").c_str()), "x"_s), 2u);
}

}  // namespace
