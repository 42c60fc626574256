#include "base/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The process's state letter in /proc, or 0 when no such process exists.
char stateOf(int pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

int openDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

// Polls `done` for up to five seconds.
template <class F>
bool eventually(F done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/process_test.XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    // Runs a shell script and waits for it.
    int32_t run(const std::string& script) {
        Process p;
        EXPECT_EQ(p.start("/bin/sh"_s, String(("sh -c \"" + script + "\"").c_str())), 0u);
        EXPECT_TRUE(p.wait(10000));
        return p.exitCode();
    }
    std::string dir;
};

// The command line is the whole one, program name first: its first token is
// argument 0 whatever file runs, and an empty one gives the application path.
TEST_F(ProcessTest, ArgumentZeroIsTheCommandLinesProgramName) {
    const std::string out = dir + "/args";
    const std::string script = "tr '\\0' '\\n' < /proc/$$/cmdline > " + out;
    std::ofstream(dir + "/script") << script << "\n";
    struct Case {
        std::string commandLine;
        std::string argv;
    };
    const std::vector<Case> cases = {
        {"sh -c \"" + script + "\" x \"two words\" \"\" a\\\"b",
         "sh\n-c\n" + script + "\nx\ntwo words\n\na\"b\n"},
        // The program name takes no backslash rules.
        {"\"C:\\Program Files\\x\\\" -c \"" + script + "\"", "C:\\Program Files\\x\\\n-c\n" + script + "\n"},
        {"\"/bin/sh\" -c \"" + script + "\"", "/bin/sh\n-c\n" + script + "\n"},
        // Without a command line the shell reads its script from the
        // standard input it shares with this process.
        {"", "/bin/sh\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        std::remove(out.c_str());
        const int saved = dup(0);
        const int input = open((dir + "/script").c_str(), O_RDONLY);
        ASSERT_GE(input, 0);
        dup2(input, 0);
        close(input);
        Process p;
        const uint32_t started = p.start("/bin/sh"_s, String(c.commandLine.c_str()));
        dup2(saved, 0);
        close(saved);
        ASSERT_EQ(started, 0u);
        ASSERT_TRUE(p.wait(10000));
        EXPECT_EQ(readFile(out), c.argv);
    }
}

TEST_F(ProcessTest, ChildRunsInItsOwnSessionWithOnlyTheStandardDescriptors) {
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);  // inheritable on purpose
    const std::string out = dir + "/out";
    const std::string script = "cut -d' ' -f6 /proc/$$/stat > " + out + "; echo $$ >> " + out +
                               "; for f in 0 1 2 " + std::to_string(pipes[0]) + " " + std::to_string(pipes[1]) +
                               "; do if [ -e /proc/$$/fd/$f ]; then echo open $f; fi; done >> " + out;
    EXPECT_EQ(run(script), 0);
    close(pipes[0]);
    close(pipes[1]);
    std::istringstream lines(readFile(out));
    std::string sid, pid;
    lines >> sid >> pid;
    EXPECT_EQ(sid, pid);
    std::string rest((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rest, "\nopen 0\nopen 1\nopen 2\n");
}

TEST_F(ProcessTest, ChildStartsWithNoBlockedOrIgnoredSignal) {
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &old), 0);
    struct sigaction ignore {}, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &previous);
    Process p;
    const uint32_t started = p.start("/bin/sleep"_s, "sleep 30"_s);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    sigaction(SIGINT, &previous, nullptr);
    ASSERT_EQ(started, 0u);
    ASSERT_EQ(kill(p.id(), SIGTERM), 0);
    ASSERT_TRUE(p.wait(5000));
    EXPECT_EQ(p.exitCode(), 128 + SIGTERM);

    Process q;
    ASSERT_EQ(q.start("/bin/sleep"_s, "sleep 30"_s), 0u);
    ASSERT_EQ(kill(q.id(), SIGINT), 0);
    ASSERT_TRUE(q.wait(5000));
    EXPECT_EQ(q.exitCode(), 128 + SIGINT);
}

TEST_F(ProcessTest, TerminateKillsAndReaps) {
    Process p;
    ASSERT_EQ(p.start("/bin/sleep"_s, "sleep 60"_s), 0u);
    const int pid = p.id();
    EXPECT_FALSE(p.wait(50));
    EXPECT_NE(stateOf(pid), 0);
    EXPECT_EQ(p.terminate(), 0u);
    EXPECT_TRUE(p.wait(0));
    EXPECT_EQ(p.exitCode(), 128 + SIGKILL);
    EXPECT_EQ(stateOf(pid), 0) << "left a zombie";
    EXPECT_EQ(p.terminate(), 5u);
    p.close();
    EXPECT_EQ(p.terminate(), 6u);
    EXPECT_FALSE(p.wait(0));
}

TEST_F(ProcessTest, ExitCodeOfAnOrdinaryEnd) { EXPECT_EQ(run("exit 7"), 7); }

TEST_F(ProcessTest, ADuplicateActsOnTheSameProcess) {
    Process p;
    ASSERT_EQ(p.start("/bin/sleep"_s, "sleep 60"_s), 0u);
    Process copy = p.duplicate();
    Process other;
    ASSERT_EQ(other.start("/bin/sleep"_s, "sleep 60"_s), 0u);
    EXPECT_TRUE(copy.sameProcess(p));
    EXPECT_FALSE(other.sameProcess(p));
    EXPECT_EQ(copy.id(), p.id());
    EXPECT_EQ(copy.terminate(), 0u);
    copy.close();
    EXPECT_TRUE(p.wait(5000));
    EXPECT_EQ(stateOf(p.id()), 0);
    EXPECT_FALSE(other.wait(0));
    EXPECT_EQ(other.terminate(), 0u);
}

TEST_F(ProcessTest, StartFailuresGiveWindowsCodes) {
    const std::string script = dir + "/not-executable";
    std::ofstream(script) << "#!/bin/sh\n";
    struct Case {
        String application;
        String commandLine;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"/nonexistent/program"_s, ""_s, 2u},
        {String(script.c_str()), ""_s, 5u},
        {"/bin/true"_s, String("a\0b", 3), 87u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(str(c.application));
        Process p;
        EXPECT_EQ(p.start(c.application, c.commandLine), c.error);
        EXPECT_FALSE(p.isValid());
    }
}

// A child that outlives its handle is reaped once it ends, and handles do
// not pile up as descriptors.
TEST_F(ProcessTest, HandlesAreClosedAndOrphansReaped) {
    const int before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        Process p;
        ASSERT_EQ(p.start("/bin/sleep"_s, "sleep 30"_s), 0u);
        Process copy = p.duplicate();
        Process moved(std::move(copy));
        p.terminate();
    }
    EXPECT_EQ(openDescriptors(), before);

    const std::string gate = dir + "/gate";
    Process orphan;
    ASSERT_EQ(orphan.start("/bin/sh"_s, String(("sh -c \"while [ ! -e " + gate + " ]; do sleep 0.01; done\"").c_str())), 0u);
    const int pid = orphan.id();
    orphan.close();
    std::ofstream(gate) << "";
    ASSERT_TRUE(eventually([&] { return stateOf(pid) == 'Z'; }));
    Process next;
    ASSERT_EQ(next.start("/bin/true"_s, ""_s), 0u);
    EXPECT_EQ(stateOf(pid), 0);
    EXPECT_TRUE(next.wait(5000));
    next.close();
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
