// vpnclient against the real admin daemon: the daemon starts Debian's
// OpenVPN (named by the registry file) on its own configuration, whose
// management interface is the fixed 127.0.0.1:1195; OpenVPN connects to a
// real OpenVPN server on loopback.
#include "openvpnserver.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

using namespace mgmttest;
using testsupport::Child;

namespace {

class VpnClientDaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(openvpnPath, X_OK), 0) << "scripts/setup.sh installs OpenVPN";
        const std::string why = tunUnusable();
        if (!why.empty()) GTEST_SKIP() << "the tunnel test needs a tun device: " << why;
        for (const char* name : {"pipe", "scm", "tmp"}) {
            mkdir((temp / name).c_str(), 0755);
            chmod((temp / name).c_str(), 0755);
        }
        testsupport::writeFile(temp / "registry.reg",
                               "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\r\n\"exe_path\"=\"" +
                                   std::string(openvpnPath) + "\"\r\n");
        env = {"TRIVANE_PIPE_DIR=" + (temp / "pipe"), "TRIVANE_SCM_DIR=" + (temp / "scm"), "TMPDIR=" + (temp / "tmp"),
               "TRIVANE_REGISTRY=" + (temp / "registry.reg")};
        server = std::make_unique<OpenVpnServer>(temp.path() + "/", "right pass");
        std::string log;
        ASSERT_TRUE(server->start(log)) << log;
        daemon = std::make_unique<Child>(std::vector<std::string>{TRIVANE_ADMINDAEMON, "-c"}, env);
        ASSERT_TRUE(testsupport::waitFor([&] { return access((temp / "pipe/gate_admin_daemon").c_str(), F_OK) == 0; }))
            << daemonLog();
    }
    void TearDown() override {
        if (daemon) {
            kill(daemon->pid(), SIGINT);
            daemon->wait(10);
        }
        server.reset();
    }
    std::unique_ptr<Child> run(const std::string& password) {
        testsupport::writeFile(temp / "password", password + "\n", 0600);
        return std::make_unique<Child>(std::vector<std::string>{TRIVANE_VPNCLIENT, "--remote", server->remote(), "--user",
                                                                "tester", "--password-file", temp / "password",
                                                                "--session", "desk-5"},
                                       env);
    }
    // The daemon's trace files (its standard output is not flushed per line).
    std::string daemonLog() {
        std::string all;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(temp / "tmp/Velnor/AdminDaemon/Logs", error))
            all += readFile(entry.path().string());
        return all;
    }
    bool daemonLogged(const std::string& text, int seconds) {
        return testsupport::waitFor([&] { return daemonLog().find(text) != std::string::npos; }, seconds);
    }

    testsupport::TempDir temp;
    std::vector<std::string> env;
    std::unique_ptr<OpenVpnServer> server;
    std::unique_ptr<Child> daemon;
};

TEST_F(VpnClientDaemonTest, ConnectsThroughTheDaemonAndStopsOnCtrlC) {
    auto client = run("right pass");
    const std::string connected = "connected " + server->firstClientAddress() + "\n";
    ASSERT_TRUE(client->waitForOutput(connected, 60)) << client->output() << daemonLog() << server->log();
    kill(client->pid(), SIGINT);
    EXPECT_EQ(client->wait(30), 0);
    EXPECT_EQ(client->output(), "started\nauthenticating\n" + connected + "stopped\n");
    EXPECT_TRUE(daemonLogged("launched for session: desk-5", 1)) << daemonLog();
    // The daemon's stop comes after the client's delay of 10 s.
    EXPECT_TRUE(daemonLogged("desk-5 stopped VPN", 30)) << daemonLog();
}

TEST_F(VpnClientDaemonTest, WrongPasswordEndsWithAuthFailed) {
    auto client = run("wrong pass");
    EXPECT_EQ(client->wait(60), 1) << client->output() << daemonLog();
    EXPECT_EQ(client->output(), "started\nauthenticating\nauthentication failed\nstopped\n");
    EXPECT_TRUE(daemonLogged("desk-5 stopped VPN", 30)) << daemonLog();
}

}  // namespace
