// The service framework as a process: command line, install and uninstall in
// the service database, service mode under the database, console mode.
#include "base/servicecontrol.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace trivane;
using testsupport::Child;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::waitFor;
using testsupport::writeFile;

namespace {

const std::string s_probe = PROBE_PATH;
const std::string s_name = "Trivane Probe Service";
const std::string s_file = "trivane probe service.service";

const char* const s_noController =
    "ServiceNT.main can not start service: the process could not connect to the service controller!\n";
const char* const s_cannotStart = "ServiceNT.main can not start service!\n";

class ServiceNTProcess : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(scmDir().c_str(), 0755);
        setenv("TRIVANE_SCM_DIR", scmDir().c_str(), 1);
    }
    void TearDown() override { unsetenv("TRIVANE_SCM_DIR"); }

    std::string scmDir() const { return m_dir / "scm"; }

    // Runs the probe to its end; returns its exit status and fills `output`.
    int runProbe(const std::vector<std::string>& args, std::string& output,
                 const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv{s_probe};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> fullEnv{"TRIVANE_SCM_DIR=" + scmDir()};
        fullEnv.insert(fullEnv.end(), env.begin(), env.end());
        Child child(argv, fullEnv);
        const int status = child.wait();
        output = child.output();
        return status;
    }

    std::string serviceFile(const std::string& file = s_file) const { return readFile(scmDir() + "/" + file); }

    TempDir m_dir;
};

// Where `needles` appear in this order in `text`.
::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& needles) {
    size_t from = 0;
    for (const std::string& needle : needles) {
        const size_t at = text.find(needle, from);
        if (at == std::string::npos)
            return ::testing::AssertionFailure() << "missing (in order) \"" << needle << "\" in:\n" << text;
        from = at + needle.size();
    }
    return ::testing::AssertionSuccess();
}

TEST_F(ServiceNTProcess, OutsideTheServiceControllerTheDispatcherFails) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> env;
    };
    const Case cases[] = {
        {{}, {}},
        {{"-I"}, {}},
        {{"--help", "-c"}, {}},
        // The variable alone does not make a process a service.
        {{}, {"TRIVANE_SCM_SERVICE=" + s_name}},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(runProbe(c.args, output, c.env), 0);
        EXPECT_TRUE(inOrder(output, {s_noController, s_cannotStart}));
        EXPECT_EQ(output.find("run function started"), std::string::npos) << output;
    }
}

TEST_F(ServiceNTProcess, InstallRecordsStartTypeAndExecutable) {
    struct Case {
        std::vector<std::string> args;
        int startType;
    };
    const Case cases[] = {
        {{"-i"}, 2}, {{"-ia"}, 2}, {{"-im"}, 3}, {{"-i", "-im"}, 3}, {{"-ia", "-im"}, 3}, {{"-i", "-ia"}, 2},
    };
    for (const Case& c : cases) {
        std::string output;
        ASSERT_EQ(runProbe(c.args, output), 0);
        EXPECT_TRUE(inOrder(output, {"ServiceNT.main \n\nservice installed successfully\n"}));
        EXPECT_EQ(serviceFile(), "name=" + s_name + "\ndisplay=" + s_name + "\nbinary=\"" + s_probe +
                                     "\"\nstart=" + std::to_string(c.startType) + "\n");
        ASSERT_EQ(runProbe({"-d"}, output), 0);
        EXPECT_TRUE(inOrder(output, {"ServiceNT.main \n\nservice UnInstalled Successfully\n"}));
        struct stat st;
        EXPECT_NE(stat((scmDir() + "/" + s_file).c_str(), &st), 0);
    }
}

TEST_F(ServiceNTProcess, AnExecutablePathWithBlanksOrOptionsInstallsAsItIs) {
    // "-im" in the program's own path does not choose demand start, and the
    // blank does not split the path when the service starts.
    const std::string dir = m_dir / "my dir-images";
    mkdir(dir.c_str(), 0755);
    const std::string program = dir + "/probe -ia";
    ASSERT_EQ(std::system(("cp '" + s_probe + "' '" + program + "'").c_str()), 0);
    Child install({program, "-i"}, {"TRIVANE_SCM_DIR=" + scmDir()});
    ASSERT_EQ(install.wait(), 0);
    EXPECT_TRUE(inOrder(install.output(), {"service installed successfully"}));
    EXPECT_EQ(serviceFile(), "name=" + s_name + "\ndisplay=" + s_name + "\nbinary=\"" + program + "\"\nstart=2\n");

    const std::string trace = m_dir / "trace.txt";
    setenv("PROBE_TRACE", trace.c_str(), 1);
    scm::ServiceManager manager;
    ASSERT_TRUE(manager.open(scm::managerConnect));
    scm::Service service;
    ASSERT_TRUE(manager.openService(s_name.c_str(), scm::serviceAllAccess, service));
    ASSERT_TRUE(service.start()) << scm::lastError();
    unsetenv("PROBE_TRACE");
    ASSERT_TRUE(waitFor([&] { return readFile(trace).find("run function started") != std::string::npos; }));
    scm::ServiceStatus status;
    ASSERT_TRUE(service.control(scm::controlStop, status));
    scm::ServiceStatusProcess final;
    ASSERT_TRUE(waitFor([&] { return service.queryStatus(final) && final.currentState == scm::stateStopped; }));
}

TEST_F(ServiceNTProcess, InstallingTwiceReportsTheExistingService) {
    std::string output;
    ASSERT_EQ(runProbe({"-i"}, output), 0);
    ASSERT_EQ(runProbe({"-im"}, output), 0);
    EXPECT_TRUE(inOrder(output, {"ServiceNT.printError The specified service already exists in this database",
                                 "ServiceNT.main cannot create service: " + s_name + "in \" \"" + s_probe + "\"\"",
                                 "ServiceNT.main \n\nerror installing service\n"}));
    // The first installation stands.
    EXPECT_NE(serviceFile().find("start=2\n"), std::string::npos);
}

TEST_F(ServiceNTProcess, InstallFailuresNameTheirCause) {
    struct Case {
        const char* what;
        std::function<void(const std::string& scm)> prepare;
        std::string serviceName;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"database writable by its group",
         [](const std::string& scm) { chmod(scm.c_str(), 0775); },
         s_name,
         {"ServiceNT.printError The handle to the specified service control manager database does not have "
          "SC_MANAGER_CREATE_SERVICE access",
          "ServiceNT.main cannot open services manager", "ServiceNT.main \n\nerror installing service\n"}},
        {"database owned by another user",
         [](const std::string& scm) { EXPECT_EQ(chown(scm.c_str(), 65534, 65534), 0); },
         s_name,
         {"ServiceNT.printError The handle to the specified service control manager database does not have",
          "ServiceNT.main cannot open services manager", "ServiceNT.main \n\nerror installing service\n"}},
        {"name with a slash",
         [](const std::string&) {},
         "probe/../../etc",
         {"ServiceNT.printError The specified service name is invalid",
          "ServiceNT.main cannot create service: probe/../../etcin \" ", "ServiceNT.main \n\nerror installing service\n"}},
        {"display name of another service",
         [](const std::string& scm) {
             writeFile(scm + "/other.service", "name=Other\ndisplay=" + s_name + "\nbinary=/bin/true\nstart=3\n");
         },
         s_name,
         {"ServiceNT.printError The display name already exists in the service control manager database either as "
          "a service name or as another display name",
          "ServiceNT.main cannot create service: ", "ServiceNT.main \n\nerror installing service\n"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string scm = dir / "scm";
        mkdir(scm.c_str(), 0755);
        c.prepare(scm);
        Child child({s_probe, "-i"}, {"TRIVANE_SCM_DIR=" + scm, "PROBE_SERVICE_NAME=" + c.serviceName});
        EXPECT_EQ(child.wait(), 0) << c.what;
        EXPECT_TRUE(inOrder(child.output(), c.lines)) << c.what;
        EXPECT_EQ(child.output().find("service installed successfully"), std::string::npos) << c.what;
    }
}

TEST_F(ServiceNTProcess, UninstallingAMissingServiceSaysOnlyThat) {
    std::string output;
    ASSERT_EQ(runProbe({"-d"}, output), 0);
    EXPECT_TRUE(inOrder(output, {"ServiceNT.main \n\nerror UnInstalling Service\n"}));
    EXPECT_EQ(output.find("printError"), std::string::npos) << output;
}

TEST_F(ServiceNTProcess, ServiceModeRunsUntilTheStopControl) {
    std::string output;
    ASSERT_EQ(runProbe({"-im"}, output), 0);
    const std::string trace = m_dir / "trace.txt";
    setenv("PROBE_TRACE", trace.c_str(), 1);

    scm::ServiceManager manager;
    ASSERT_TRUE(manager.open(scm::managerConnect));
    scm::Service service;
    ASSERT_TRUE(manager.openService("TRIVANE probe SERVICE", scm::serviceAllAccess, service));
    ASSERT_TRUE(service.start());
    unsetenv("PROBE_TRACE");

    // The run function gets the arguments of the service main: the service name.
    ASSERT_TRUE(waitFor([&] { return readFile(trace).find("run function started [" + s_name + "]") != std::string::npos; }))
        << readFile(trace);
    scm::ServiceStatusProcess status;
    ASSERT_TRUE(service.queryStatus(status));
    EXPECT_EQ(status.currentState, scm::stateRunning);
    EXPECT_EQ(status.controlsAccepted, scm::acceptStop | scm::acceptSessionChange);
    const pid_t pid = static_cast<pid_t>(status.processId);
    ASSERT_GT(pid, 0);

    EXPECT_FALSE(service.start());
    EXPECT_EQ(scm::lastError(), scm::errorServiceAlreadyRunning);

    scm::ServiceStatus afterStop;
    ASSERT_TRUE(service.control(scm::controlStop, afterStop));
    EXPECT_EQ(afterStop.currentState, scm::stateStopPending);
    EXPECT_GT(afterStop.waitHint, 0u);

    ASSERT_TRUE(waitFor([&] { return service.queryStatus(status) && status.currentState == scm::stateStopped; }));
    EXPECT_EQ(status.processId, 0u);
    EXPECT_EQ(status.win32ExitCode, 0u);
    EXPECT_TRUE(inOrder(readFile(trace), {"run function started", "run function stopping"}));
    // Gone, or a zombie nobody reaps here.
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;

    // Once stopped it starts again.
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitFor([&] { return service.queryStatus(status) && status.currentState == scm::stateRunning && status.processId != static_cast<uint32_t>(pid); }));
    ASSERT_TRUE(service.control(scm::controlStop, afterStop));
    ASSERT_TRUE(waitFor([&] { return service.queryStatus(status) && status.currentState == scm::stateStopped; }));
}

TEST_F(ServiceNTProcess, AServiceWhoseRunFunctionReturnsStaysRunningUntilStopped) {
    std::string output;
    ASSERT_EQ(runProbe({"-im"}, output), 0);
    const std::string trace = m_dir / "trace.txt";
    setenv("PROBE_TRACE", trace.c_str(), 1);
    setenv("PROBE_RETURN", "1", 1);
    scm::ServiceManager manager;
    ASSERT_TRUE(manager.open(scm::managerConnect));
    scm::Service service;
    ASSERT_TRUE(manager.openService(s_name.c_str(), scm::serviceAllAccess, service));
    ASSERT_TRUE(service.start());
    unsetenv("PROBE_TRACE");
    unsetenv("PROBE_RETURN");

    ASSERT_TRUE(waitFor([&] { return readFile(trace).find("run function returning at once") != std::string::npos; }));
    scm::ServiceStatusProcess status;
    // The run function has returned, the process serves nothing and reads as
    // running: what it reported last.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(service.queryStatus(status));
        EXPECT_EQ(status.currentState, scm::stateRunning);
    }
    scm::ServiceStatus afterStop;
    ASSERT_TRUE(service.control(scm::controlStop, afterStop));
    ASSERT_TRUE(waitFor([&] { return service.queryStatus(status) && status.currentState == scm::stateStopped; }, 5));
    EXPECT_EQ(status.win32ExitCode, 0u);
    EXPECT_EQ(readFile(trace).find("run function stopping"), std::string::npos);
}

TEST_F(ServiceNTProcess, ConsoleModeEndsOnEveryConsoleControlSignal) {
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (const int sig : signals) {
        for (const char* option : {"-c", "-t"}) {
            Child child({s_probe, option}, {});
            ASSERT_TRUE(child.waitForOutput("run function started")) << child.output();
            kill(child.pid(), sig);
            EXPECT_EQ(child.wait(), 1) << "signal " << sig << "\n" << child.output();
            EXPECT_TRUE(inOrder(child.output(), {"run function started", "run function stopping"}));
        }
    }
}

TEST_F(ServiceNTProcess, ARunFunctionThatThrowsStillEndsCleanly) {
    std::string output;
    EXPECT_EQ(runProbe({"-c"}, output, {"PROBE_THROW=1"}), 0);
    EXPECT_TRUE(inOrder(output, {"run function started", "Exception.catch EBadItem:servicent_probe:", " -> servicent:"}));
}

}  // namespace
