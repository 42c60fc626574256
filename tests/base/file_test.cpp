#include "base/file.h"

#include "base/console.h"
#include "base/exception.h"
#include "support/platform.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace trivane;
using testutil::str;
using testutil::tv;
namespace fs = std::filesystem;

namespace {

template <class F>
std::string efileFrom(F&& f) {
    try {
        f();
    } catch (const EFile& e) {
        return str(e.message()) + ":" + str(e.file());
    }
    return "no exception";
}

TEST(FileTest, CreateDirectoriesMakesTheMissingOnesAndRefusesAnExistingLastOne) {
    testutil::ScratchDir dir;
    const std::string base = dir.path();
    const std::string forms[] = {base + "/a/b", base + "\\c\\d\\", base + "/e\\f/"};
    for (const std::string& path : forms) {
        File::createDirectories(tv(path));
        std::string expected = path;
        for (char& c : expected)
            if (c == '\\') c = '/';
        EXPECT_TRUE(fs::is_directory(expected)) << path;
        EXPECT_TRUE(File::isDirectory(tv(path)));
        // Windows keeps the owner-only access in the access list, which
        // the permission bits of the C++ library do not show.
        if (!trivane::test::windowsTarget) {
            EXPECT_EQ(fs::status(expected).permissions(), fs::perms::owner_all) << path;
        }
        EXPECT_EQ(efileFrom([&] { File::createDirectories(tv(path)); }), "EFile:file") << path;
    }
    EXPECT_FALSE(File::isDirectory(tv(base + "/none")));
}

TEST(FileTest, OpenFlagsDecideCreationAndTruncation) {
    testutil::ScratchDir dir;
    const std::string path = dir.path("f.bin");
    struct Case {
        int flags;
        bool opens;
        std::string after;  // content after writing "XY" at the start
    };
    const Case cases[] = {
        {File::Write, true, "XY"},
        {File::Read | File::Write, true, "XYcdef"},
        {File::Write | File::Keep, true, "XYcdef"},
        {File::Write | File::Create, true, "XY"},
        {File::Read, true, "abcdef"},
    };
    for (const Case& c : cases) {
        testutil::writeAll(path, "abcdef");
        File f;
        ASSERT_EQ(f.open(tv(path), c.flags), c.opens) << c.flags;
        f.write("XY", 2);
        f.close();
        EXPECT_EQ(testutil::readAll(path), c.after) << c.flags;
    }
    File f;
    EXPECT_FALSE(f.open(tv(dir.path("missing")), File::Read));
    EXPECT_EQ(f.mode(), File::Closed);
    EXPECT_EQ(f.position(), -1);
    EXPECT_EQ(f.remaining(), 0);
    ASSERT_TRUE(f.open(tv(dir.path("new.bin")), File::Read | File::Write));
    if (!trivane::test::windowsTarget) {
        EXPECT_EQ(fs::status(dir.path("new.bin")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

TEST(FileTest, ASymbolicLinkIsNotFollowed) {
    testutil::ScratchDir dir;
    testutil::writeAll(dir.path("target"), "secret");
    std::error_code linkError;
    fs::create_symlink(dir.path("target"), dir.path("link"), linkError);
    if (linkError) GTEST_SKIP() << "this system cannot create a symbolic link: " << linkError.message();
    for (int flags : {int(File::Read), int(File::Write), File::Read | File::Write}) {
        File f;
        EXPECT_FALSE(f.open(tv(dir.path("link")), flags)) << flags;
    }
    EXPECT_EQ(testutil::readAll(dir.path("target")), "secret");
}

TEST(FileTest, ValuesHaveTheirLittleEndianEncodingAndReadBack) {
    testutil::ScratchDir dir;
    const String path = tv(dir.path("values.bin"));
    {
        File out;
        ASSERT_TRUE(out.open(path, File::Write));
        out.writeUInt8(0x81);
        out.writeUInt16(0x1234);
        out.writeInt32(-2);
        out.writeBool(true);
        out.writeString("hey"_s);
        out.writeMemory(Memory("\0z", 2));
    }
    const std::string expected("\x81\x34\x12\xFE\xFF\xFF\xFF\x01\x00\x03\x00\x00\x00hey\x02\x00\x00\x00\x00z", 22);
    EXPECT_EQ(testutil::readAll(str(path)), expected);
    File in;
    ASSERT_TRUE(in.open(path, File::Read));
    EXPECT_EQ(in.remaining(), 22);
    EXPECT_EQ(in.readUInt8(), 0x81);
    EXPECT_EQ(in.readUInt16(), 0x1234);
    EXPECT_EQ(in.readInt32(), -2);
    EXPECT_TRUE(in.readBool());
    EXPECT_EQ(str(in.readString()), "hey");
    EXPECT_TRUE(in.readMemory() == Memory("\0z", 2));
    EXPECT_EQ(in.position(), 22);
    EXPECT_EQ(efileFrom([&] { in.readUInt8(); }), "EFile:file");
    in.seek(16);
    const Memory raw = in.readMemory(3);
    EXPECT_EQ(raw.length(), 3u);
    EXPECT_EQ(std::string(raw.data(), 4), std::string("\x02\0\0\0", 4));
}

TEST(FileTest, CountedValuesAboveOneMebibyteAreRefusedBeforeTheirBytes) {
    testutil::ScratchDir dir;
    struct Case {
        uint32_t count;
        bool accepted;
    };
    const Case cases[] = {{0x100000, true}, {0x100001, false}, {0xFFFFFFFF, false}};
    for (const Case& c : cases) {
        for (bool asString : {true, false}) {
            std::string bytes;
            for (int i = 0; i < 4; ++i) bytes += static_cast<char>(c.count >> (8 * i));
            bytes += std::string(c.accepted ? c.count : 16, 'v');
            testutil::writeAll(dir.path("counted.bin"), bytes);
            File in;
            ASSERT_TRUE(in.open(tv(dir.path("counted.bin")), File::Read));
            if (c.accepted) {
                EXPECT_EQ(asString ? in.readString().length() : in.readMemory().length(), c.count);
            } else {
                EXPECT_EQ(efileFrom([&] { asString ? (void)in.readString() : (void)in.readMemory(); }), "EFile:file");
                EXPECT_EQ(in.position(), 4);
            }
        }
    }
}

TEST(FileTest, AFailedWriteIsLoggedAndThrown) {
    testutil::ScratchDir dir;
    const std::string trace = dir.path("trace.txt");
    Console::instance()->setOutput(LogTrace, tv(trace));
    File full;
    ASSERT_TRUE(full.open("/dev/full"_s, File::Write));
    EXPECT_EQ(efileFrom([&] { full.writeString("lost"_s); }), "EFile:file");
    Console::instance()->setOutput(LogTrace, "stdout"_s);
    EXPECT_NE(testutil::readAll(trace).find("TRACE File.write can not write file, error: 112\n"), std::string::npos);
}

TEST(FileTest, RemoveDeletesAFileAndThrowsForAMissingOne) {
    testutil::ScratchDir dir;
    testutil::writeAll(dir.path("gone"), "x");
    File::remove(tv(dir.path("gone")));
    EXPECT_FALSE(fs::exists(dir.path("gone")));
    EXPECT_EQ(efileFrom([&] { File::remove(tv(dir.path("gone"))); }), "EFile:file");
}

TEST(FileTest, DirectoryAndParentDirectoryOfPaths) {
    struct Case {
        const char* path;
        const char* directory;
        const char* parent;
    };
    const Case cases[] = {
        // The parent of a file's path is the file's directory.
        {"C:\\Program Files\\App\\app.exe", "C:/Program Files/App/", "C:/Program Files/App/"},
        {"C:\\Program Files\\App\\", "C:/Program Files/App/", "C:/Program Files/"},
        {"\"C:\\Program Files\\App\"", "C:/Program Files/", "C:/Program Files/"},
        {"/usr/local/bin/admindaemon", "/usr/local/bin/", "/usr/local/bin/"},
        {"/usr/", "/usr/", "/"},
        {"app.exe", "app.exe", "app.exe"},
        {"\"app.exe\"", "\"app.exe\"", "\"app.exe\""},
        {"/", "/", "/"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(str(File::getDirectory(String(c.path))), c.directory) << c.path;
        EXPECT_EQ(str(File::getParentDirectory(String(c.path))), c.parent) << c.path;
    }
    EXPECT_EQ(str(File::getParentDirectory(File::getDirectory("C:\\Program Files\\App\\app.exe"_s))), "C:/Program Files/");
}

TEST(FileTest, TheProgramPartOfACommandLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\Program Files\\App\\app.exe\" -t", "C:\\Program Files\\App\\app.exe"},
        {"\"/opt/my app/daemon", "/opt/my app/daemon"},
        {"\" padded \" x", "padded"},
        {"/usr/bin/daemon -t -v", "/usr/bin/daemon -t -v"},
        {"  /usr/bin/daemon \t\r\n", "/usr/bin/daemon"},
        {"", ""},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(str(File::commandLinePath(String(line))), expected) << line;
}

TEST(FileTest, TheCommandLineOfThisProcessIsQuotedWhenItHoldsABlank) {
    if (trivane::test::windowsTarget) GTEST_SKIP() << "runs a link to itself through /proc and /bin/sh";
    const std::string self = fs::canonical("/proc/self/exe").string();
    EXPECT_EQ(str(File::getCommandLinePath()).substr(0, testing::internal::GetArgvs()[0].size()),
              testing::internal::GetArgvs()[0]);
    if (std::getenv("TRIVANE_COMMAND_LINE_OUT")) {
        testutil::writeAll(std::getenv("TRIVANE_COMMAND_LINE_OUT"), str(File::getCommandLinePath()));
        return;
    }
    testutil::ScratchDir dir;
    fs::create_directories(dir.path("with blank"));
    const std::string linked = dir.path("with blank") + "/file test";
    fs::create_symlink(self, linked);
    const std::string out = dir.path("out.txt");
    const std::string command = "TRIVANE_COMMAND_LINE_OUT='" + out + "' '" + linked +
                                "' --gtest_filter=FileTest.TheCommandLineOfThisProcessIsQuotedWhenItHoldsABlank >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(testutil::readAll(out), linked);
}

TEST(FileTest, WellKnownDirectories) {
    EXPECT_EQ(str(File::getCurrentDirectory()), fs::current_path().string());
    if (const char* home = std::getenv("HOME"); home && *home) {
        EXPECT_EQ(str(File::getUserProfileDirectory()), home);
        if (!std::getenv("XDG_CONFIG_HOME")) {
            EXPECT_EQ(str(File::getUserApplicationDataDirectory()), std::string(home) + "/.config");
        }
    }
}

}  // namespace
