// The vpnclient program end to end: a stand-in daemon on the pipe starts
// Debian's OpenVPN client, which connects to a real OpenVPN server on
// loopback; the program's standard output is its event lines.
#include "openvpnserver.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

using namespace mgmttest;
using testsupport::Child;

namespace {

const char* const vpnclient = TRIVANE_VPNCLIENT;

TEST(VpnClientCommandLineTest, HelpAndMistakes) {
    pipetest::PipeDir pipeDir;  // no daemon listens there
    testsupport::TempDir temp;
    testsupport::writeFile(temp / "password", "secret\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* output;
    };
    const std::string file = temp / "password";
    const Case cases[] = {
        {{"--help"}, 0, "Ctrl+C (or SIGTERM) ends the connection"},
        {{"--user", "tester"}, 2, "vpnclient: --remote is required"},
        {{"--remote", "127.0.0.1:1194"}, 2, "vpnclient: --user is required"},
        {{"--remote", "127.0.0.1:1194", "--user", "tester", "--colour", "red"}, 2, "unknown option --colour"},
        {{"--remote", "127.0.0.1:1194", "--user"}, 2, "missing value after --user"},
        {{"--remote", "h:1", "--user", "u", "--bypass", "a:1", "--bypass", "b:1", "--bypass", "c:1"}, 2,
         "--bypass is given twice at most"},
        {{"--remote", "h:1", "--user", "u", "--wait", "soon"}, 2, "--wait takes a number of seconds"},
        {{"--remote", "h:1", "--user", "u", "--password-file", temp / "missing"}, 2, "no password in"},
        {{"--remote", "h:1", "--user", "u", "--password-file", file, "--management", "nowhere"}, 2,
         "unusable management address nowhere"},
        {{"--remote", "127.0.0.1:1194", "--user", "tester", "--password-file", file}, 1,
         "vpnclient: the daemon did not start the VPN: 2: network timeout"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{vpnclient};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Child child(argv, {});
        EXPECT_EQ(child.wait(30), c.status) << c.output;
        EXPECT_NE(child.output().find(c.output), std::string::npos) << child.output();
    }
}

// What the program writes to a terminal until it ends, `typed` sent once it
// has asked for the password; its exit status in `status`.
std::string runAtTerminal(const std::vector<std::string>& args, const std::string& typed, int& status) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no pseudo-terminal";
    const std::string slave = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int terminal = open(slave.c_str(), O_RDWR);
        dup2(terminal, 0);
        dup2(terminal, 1);
        dup2(terminal, 2);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string output;
    bool sent = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // the program has ended and closed the terminal
            output.append(buffer, static_cast<size_t>(n));
        }
        if (!sent && output.find("Password: ") != std::string::npos) {
            sent = write(master, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size());
        }
    }
    waitpid(pid, &status, 0);
    close(master);
    return output;
}

TEST(VpnClientCommandLineTest, APasswordTypedAtATerminalIsNotShown) {
    pipetest::PipeDir pipeDir;  // no daemon listens there
    int status = 0;
    const std::string output =
        runAtTerminal({vpnclient, "--remote", "127.0.0.1:1194", "--user", "tester"}, "typed secret\n", status);
    EXPECT_NE(output.find("Password: "), std::string::npos) << output;
    EXPECT_EQ(output.find("typed secret"), std::string::npos) << output;
    EXPECT_NE(output.find("the daemon did not start the VPN"), std::string::npos) << output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

class VpnClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(openvpnPath, X_OK), 0) << "scripts/setup.sh installs OpenVPN";
        const std::string why = tunUnusable();
        if (!why.empty()) GTEST_SKIP() << "the tunnel test needs a tun device: " << why;
        server = std::make_unique<OpenVpnServer>(temp.path() + "/", "right pass");
        std::string log;
        ASSERT_TRUE(server->start(log)) << log;
        management = "127.0.0.1:" + std::to_string(freePort());
        daemon = std::make_unique<StandInDaemon>(temp.path() + "/", management);
    }
    void TearDown() override {
        daemon.reset();
        server.reset();
    }
    std::unique_ptr<Child> run(const std::string& password) {
        testsupport::writeFile(temp / "password", password + "\n", 0600);
        return std::make_unique<Child>(
            std::vector<std::string>{vpnclient, "--remote", server->remote(), "--user", "tester", "--password-file",
                                     temp / "password", "--session", "desk-3", "--management", management},
            std::vector<std::string>{});
    }

    pipetest::PipeDir pipeDir;
    testsupport::TempDir temp;
    std::unique_ptr<OpenVpnServer> server;
    std::unique_ptr<StandInDaemon> daemon;
    std::string management;
};

TEST_F(VpnClientTest, ConnectsAndStopsOnCtrlC) {
    auto child = run("right pass");
    const std::string connected = "connected " + server->firstClientAddress() + "\n";
    ASSERT_TRUE(child->waitForOutput(connected, 60)) << child->output() << readFile(daemon->logPath());
    kill(child->pid(), SIGINT);
    EXPECT_EQ(child->wait(30), 0);
    EXPECT_EQ(child->output(), "started\nauthenticating\n" + connected + "stopped\n");
    EXPECT_TRUE(daemon->waitForCall("stop desk-3,10000"));
    EXPECT_TRUE(daemon->waitForExit(10000));
    EXPECT_EQ(daemon->calls().front(),
              "start desk-3," + server->remote() + ",," + server->remote() + "," + server->remote());
}

TEST_F(VpnClientTest, WrongPasswordEndsWithAuthFailed) {
    auto child = run("wrong pass");
    EXPECT_EQ(child->wait(60), 1) << child->output();
    EXPECT_EQ(child->output(), "started\nauthenticating\nauthentication failed\nstopped\n");
    EXPECT_TRUE(daemon->waitForCall("stop desk-3,10000"));
    EXPECT_TRUE(daemon->waitForExit(10000));
}

}  // namespace
