#include "base/console.h"

#include "base/arch/thread.h"
#include "base/datetime.h"
#include "base/file.h"
#include "support/platform.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace trivane;
using testutil::str;
using testutil::tv;

namespace {

const char* const stampPattern = R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d\.(0|[1-9]\d{0,2}) )";

// Restores every level to standard output after the test.
class ConsoleTest : public testing::Test {
protected:
    ~ConsoleTest() override {
        for (int level = 0; level < Console::levels; ++level) console().setOutput(level, "stdout"_s);
    }
    static Console& console() { return *Console::instance(); }
    std::string path(const char* name) const { return m_dir.path(name); }
    std::string label() const { return "[" + std::to_string(sys::currentThreadId()) + "] "; }

    testutil::ScratchDir m_dir;
};

TEST_F(ConsoleTest, LinesWithAndWithoutAFunctionName) {
    struct Case {
        int level;
        const char* function;
        std::string expected;  // after the thread label
    };
    const Case cases[] = {
        {LogTrace, "main", "TRACE ServiceNT.main starting"},
        {LogError, "", "ERROR ServiceNT: starting"},
        {LogWarning, "run", "WARNING ServiceNT.run starting"},
    };
    for (const Case& c : cases) {
        const std::string file = path("line.txt");
        console().setOutput(c.level, tv(file));
        testing::internal::CaptureStdout();
        log(c.level, "ServiceNT", c.function, "starting");
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string line = label() + c.expected;
        EXPECT_TRUE(std::regex_match(testutil::readAll(file), std::regex(std::string("^") + stampPattern + std::regex_replace(line, std::regex(R"([\[\].])"), R"(\$&)") + "\n$")))
            << testutil::readAll(file);
        EXPECT_TRUE(std::regex_match(out, std::regex(R"(^\d{1,3} )" + std::regex_replace(line, std::regex(R"([\[\].])"), R"(\$&)") + "\n$")))
            << out;
    }
}

TEST_F(ConsoleTest, ALongLineIsWrittenWhole) {
    const std::string file = path("long.txt");
    console().setOutput(LogTrace, tv(file));
    const std::string message = std::string(5000, 'm') + "\nsecond part";
    testing::internal::CaptureStdout();
    log(LogTrace, "M", "f", tv(message));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string text = testutil::readAll(file);
    EXPECT_TRUE(std::regex_match(text, std::regex(std::string("^") + stampPattern + R"(\[\d+\] TRACE M\.f m{5000}\nsecond part\n$)")));
    EXPECT_EQ(out.substr(out.find(' ')), text.substr(text.find(' ', 9)));
}

TEST_F(ConsoleTest, ALevelSetToNullWritesOnlyTheShortLineOnStandardOutput) {
    const std::string file = path("null.txt");
    console().setOutput(LogDebug, tv(file));
    console().setOutput(LogDebug, "null"_s);
    EXPECT_EQ(str(console().target(LogDebug)), "null");
    testing::internal::CaptureStdout();
    log(LogDebug, "Module", "fn", "quiet");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(testutil::readAll(file), "");
    EXPECT_NE(out.find(label() + "DEBUG Module.fn quiet\n"), std::string::npos) << out;
}

TEST_F(ConsoleTest, SettingTheSameFileAgainTruncatesIt) {
    const std::string file = path("again.txt");
    console().setOutput(LogTrace, tv(file));
    log(LogTrace, "M", "f", "first");
    console().setOutput(LogTrace, tv(file));
    log(LogTrace, "M", "f", "second");
    const auto lines = testutil::lines(testutil::readAll(file));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("TRACE M.f second"), std::string::npos);
}

TEST_F(ConsoleTest, AnUnopenableFileLeavesTheLevelSilent) {
    console().setOutput(LogError, tv(path("missing/dir/log.txt")));
    testing::internal::CaptureStdout();
    log(LogError, "M", "f", "still shown");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR M.f still shown"), std::string::npos);
}

std::time_t localSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST_F(ConsoleTest, TimeStampsPrintMillisecondsWithoutPadding) {
    const uint64_t at = static_cast<uint64_t>(localSeconds(2024, 3, 3, 9, 5, 7)) * 1000;
    const std::pair<uint64_t, const char*> cases[] = {
        {at + 7, "03-03-24 09:05:07.7"},
        {at + 70, "03-03-24 09:05:07.70"},
        {at + 999, "03-03-24 09:05:07.999"},
        {at, "03-03-24 09:05:07.0"},
    };
    for (const auto& [ms, expected] : cases) EXPECT_EQ(str(Console::timeStamp(ms)), expected);
}

TEST_F(ConsoleTest, LinesOfManyThreadsOnFourLevelsOfOneFileStayWhole) {
    const std::string file = path("shared.txt");
    const int levels[] = {LogTrace, LogDebug, LogError, LogWarning};
    for (int level : levels) console().setOutput(level, tv(file));
    constexpr int threads = 8, perThread = 300;
    testing::internal::CaptureStdout();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                log(levels[(t + i) % 4], "Writer", "loop", tv("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(40, 'x')));
        });
    for (auto& w : workers) w.join();
    (void)testing::internal::GetCapturedStdout();
    const std::regex whole(std::string("^") + stampPattern + R"(\[\d+\] (TRACE|DEBUG|ERROR|WARNING) Writer\.loop thread (\d) line (\d+) x{40}$)");
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : testutil::lines(testutil::readAll(file))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        seen.emplace(std::stoi(m[3]), std::stoi(m[4]));
    }
    std::set<std::pair<int, int>> expected;
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread; ++i) expected.emplace(t, i);
    EXPECT_EQ(seen, expected);
}

TEST_F(ConsoleTest, TheHostDescriptionNamesLinuxAndTheRealUser) {
    if (test::windowsTarget) GTEST_SKIP() << "the Linux host; TheHostDescriptionOfWindows describes Windows";
    const std::string file = path("host.txt");
    console().setOutput(LogTrace, tv(file));
    console().infoSystem(true);
    const std::string text = testutil::readAll(file);
    EXPECT_EQ(str(console().osName()), "Linux");
    EXPECT_TRUE(std::regex_match(str(console().osVersion()), std::regex(R"(\d+\.\d+)")));
    EXPECT_EQ(str(console().osVersion()), str(console().servicePack()).substr(0, console().osVersion().length()));
    const char* expected[] = {
        R"(Console\.infoSystem System directory: /usr/lib\n)",
        R"(Console\.infoSystem Windows directory: /\n)",
        R"(Console\.infoSystem Windows temporary directory: .*/\n)",
        R"(Console\.infoSystem Command line: .*base_console_test)",
        R"(Console\.infoSystem Linux\n)",
        R"(Console\.infoSystem Number of Processors: [1-9]\d*\n)",
        R"(Console\.infoSystem Page size: [1-9]\d*\n)",
        R"(Console\.infoSystem Username: root\n)",
        R"(Console\.infoSystem -----------------------------------\n)",
    };
    for (const char* pattern : expected) EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern << "\n" << text;
    EXPECT_EQ(text.find("Windows 9"), std::string::npos);
}

TEST_F(ConsoleTest, TheHostDescriptionOfWindows) {
    if (!test::windowsTarget) GTEST_SKIP() << "the Windows host; TheHostDescriptionNamesLinuxAndTheRealUser describes Linux";
    const std::string file = path("host.txt");
    console().setOutput(LogTrace, tv(file));
    console().infoSystem(true);
    const std::string text = testutil::readAll(file);
    EXPECT_TRUE(std::regex_match(str(console().osName()), std::regex(R"(Microsoft Windows .*)")));
    EXPECT_TRUE(std::regex_match(str(console().osVersion()), std::regex(R"(\d+\.\d+)")));
    EXPECT_TRUE(std::regex_match(str(console().servicePack()), std::regex(R"(Service Pack \d+\.\d+)")));
    const char* expected[] = {
        R"(Console\.infoSystem System directory: [A-Za-z]:\\.*\\system32\n)",
        R"(Console\.infoSystem Windows directory: [A-Za-z]:\\.*\n)",
        R"(Console\.infoSystem Windows temporary directory: [A-Za-z]:\\.*\\\n)",
        R"(Console\.infoSystem Command line: .*base_console_test)",
        R"(Console\.infoSystem Microsoft Windows .*\n)",
        R"(Console\.infoSystem Service Pack \d+\.\d+\n)",
        R"(Console\.infoSystem Number of Processors: [1-9]\d*\n)",
        R"(Console\.infoSystem Page size: [1-9]\d*\n)",
        R"(Console\.infoSystem Username: .+\n)",
        R"(Console\.infoSystem -----------------------------------\n)",
    };
    for (const char* pattern : expected) EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern << "\n" << text;
}

// Run again as the child of LoggingIntoABrokenPipeKeepsTheProcessAlive, this
// program logs into a pipe whose reader has gone, then ends normally.
const bool s_brokenPipeChild = [] {
    if (!std::getenv("TRIVANE_BROKEN_PIPE_CHILD")) return false;
    for (int i = 0; i < 5000; ++i) log(LogTrace, "Child", "loop", "a line for a reader that has gone");
    std::exit(0);
}();

TEST(ConsoleProcessTest, LoggingIntoABrokenPipeKeepsTheProcessAlive) {
    if (test::windowsTarget) GTEST_SKIP() << "the pipeline is a /bin/sh one; SIGPIPE exists on POSIX only";
    testutil::ScratchDir dir;
    const std::string status = dir.path("status");
    const std::string self = testing::internal::GetArgvs()[0];
    const std::string command = "{ TRIVANE_BROKEN_PIPE_CHILD=1 '" + self +
                                "' 2>/dev/null; echo $? >'" + status +
                                "'; } | true";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(testutil::readAll(status), "0\n");
}

TEST(DateTimeTest, CompactTextPadsEveryField) {
    const std::pair<std::time_t, const char*> cases[] = {
        {localSeconds(2024, 3, 3, 9, 5, 7), "20240303_09h05m07"},
        {localSeconds(1999, 12, 31, 23, 59, 58), "19991231_23h59m58"},
    };
    for (const auto& [seconds, expected] : cases) EXPECT_EQ(str(DateTime(seconds).compactText()), expected);
}

TEST(DateTimeTest, StoredAsTheLower32BitsAndReadBackUnsigned) {
    testutil::ScratchDir dir;
    const String path = tv(dir.path("time.bin"));
    File out;
    ASSERT_TRUE(out.open(path, File::Write));
    DateTime(0x1FFFFFFFELL).saveStream(out);
    out.close();
    EXPECT_EQ(testutil::readAll(dir.path("time.bin")), std::string("\xFE\xFF\xFF\xFF", 4));
    File in;
    ASSERT_TRUE(in.open(path, File::Read));
    DateTime read(5);
    read.loadStream(in);
    EXPECT_EQ(read.seconds(), 0xFFFFFFFELL);
    const int64_t now = DateTime().seconds();
    EXPECT_NEAR(static_cast<double>(now), static_cast<double>(std::time(nullptr)), 2.0);
}

}  // namespace
