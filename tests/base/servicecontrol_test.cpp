// The service database: service files, starting, querying and stopping real
// processes, the files it refuses to trust, and stopping only the process it
// started.
#include "base/servicecontrol.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

using namespace trivane;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::waitFor;
using testsupport::writeFile;

namespace {

// A service that takes its time to wind down after the stop control; it
// creates `ready` once it would.
std::string slowToStop(const std::string& ready) {
    return "/bin/sh -c \"trap 'sleep 1; exit 0' TERM; touch " + ready + "; while :; do sleep 0.05; done\"";
}

// A process's start time in clock ticks since boot, and the clock now.
unsigned long long startTicks(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) fields >> field;
    return std::stoull(field);
}

unsigned long long bootTicks() {
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    const long perSecond = sysconf(_SC_CLK_TCK);
    return static_cast<unsigned long long>(now.tv_sec) * perSecond + now.tv_nsec / (1000000000L / perSecond);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class ServiceDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(scm().c_str(), 0755);
        setenv("TRIVANE_SCM_DIR", scm().c_str(), 1);
    }
    void TearDown() override {
        // Leaves no service process behind.
        for (const pid_t pid : m_started) kill(pid, SIGKILL);
        unsetenv("TRIVANE_SCM_DIR");
    }

    std::string scm() const { return m_dir / "scm"; }

    void addService(const std::string& name, const std::string& binary, int start = 3) {
        std::string key = name;
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        writeFile(scm() + "/" + key + ".service",
                  "name=" + name + "\ndisplay=" + name + "\nbinary=" + binary + "\nstart=" + std::to_string(start) + "\n");
    }

    scm::Service open(const std::string& name, uint32_t access = scm::serviceAllAccess) {
        scm::ServiceManager manager;
        EXPECT_TRUE(manager.open(scm::managerConnect)) << scm::lastError();
        scm::Service service;
        EXPECT_TRUE(manager.openService(String(name.c_str()), access, service)) << scm::lastError();
        return service;
    }

    scm::ServiceStatusProcess query(scm::Service& service) {
        scm::ServiceStatusProcess status;
        EXPECT_TRUE(service.queryStatus(status)) << scm::lastError();
        if (status.processId != 0) m_started.push_back(static_cast<pid_t>(status.processId));
        return status;
    }

    bool waitForState(scm::Service& service, uint32_t state) {
        return waitFor([&] { return query(service).currentState == state; });
    }

    TempDir m_dir;
    std::vector<pid_t> m_started;
};

TEST_F(ServiceDatabase, StartsQueriesAndStopsAPlainProcess) {
    const std::string ready = m_dir / "ready";
    addService("velnor agent", slowToStop(ready));
    scm::Service service = open("VELNOR Agent");

    scm::ServiceStatusProcess status = query(service);
    EXPECT_EQ(status.currentState, scm::stateStopped);
    EXPECT_EQ(status.processId, 0u);
    EXPECT_EQ(status.serviceType, scm::typeOwnProcess);

    ASSERT_TRUE(service.start()) << scm::lastError();
    status = query(service);
    // A process that never reports reads as running while it lives.
    EXPECT_EQ(status.currentState, scm::stateRunning);
    EXPECT_EQ(status.controlsAccepted, scm::acceptStop);
    ASSERT_NE(status.processId, 0u);
    std::string cmdline = readFile("/proc/" + std::to_string(status.processId) + "/cmdline");
    EXPECT_EQ(cmdline.substr(0, 11), std::string("/bin/sh\0-c\0", 11));
    EXPECT_EQ(cmdline.substr(11, 5), "trap ");

    ASSERT_TRUE(waitFor([&] { return exists(ready); }));

    EXPECT_FALSE(service.start());
    EXPECT_EQ(scm::lastError(), scm::errorServiceAlreadyRunning);

    scm::ServiceStatus stopped;
    ASSERT_TRUE(service.control(scm::controlStop, stopped)) << scm::lastError();
    EXPECT_EQ(stopped.currentState, scm::stateStopPending);
    EXPECT_GT(stopped.waitHint, 0u);
    EXPECT_EQ(query(service).currentState, scm::stateStopPending);
    ASSERT_TRUE(waitForState(service, scm::stateStopped));
    status = query(service);
    EXPECT_EQ(status.processId, 0u);
    EXPECT_EQ(status.win32ExitCode, 0u);

    struct Case {
        uint32_t control;
        uint32_t error;
    };
    for (const Case c : {Case{scm::controlStop, scm::errorServiceNotActive}, Case{scm::controlInterrogate, scm::errorServiceNotActive}}) {
        EXPECT_FALSE(service.control(c.control, stopped));
        EXPECT_EQ(scm::lastError(), c.error);
    }
}

TEST_F(ServiceDatabase, ControlsOtherThanStopAndInterrogate) {
    const std::string ready = m_dir / "ready";
    addService("velnor agent", slowToStop(ready));
    scm::Service service = open("velnor agent");
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitFor([&] { return exists(ready); }));
    scm::ServiceStatus status;
    ASSERT_TRUE(service.control(scm::controlInterrogate, status));
    EXPECT_EQ(status.currentState, scm::stateRunning);
    EXPECT_FALSE(service.control(scm::controlPause, status));
    EXPECT_EQ(scm::lastError(), scm::errorInvalidServiceControl);
    ASSERT_TRUE(service.control(scm::controlStop, status));
    // A second stop while it winds down is refused.
    EXPECT_FALSE(service.control(scm::controlStop, status));
    EXPECT_EQ(scm::lastError(), 1061u);
    ASSERT_TRUE(waitForState(service, scm::stateStopped));
}

TEST_F(ServiceDatabase, AProcessThatDiesReadsAsStoppedAndAborted) {
    addService("velnor gateway", "/bin/sh -c \"exit 3\"");
    scm::Service service = open("velnor gateway");
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitForState(service, scm::stateStopped));
    EXPECT_EQ(query(service).win32ExitCode, 1067u);
}

TEST_F(ServiceDatabase, StartFailuresGiveTheirErrors) {
    struct Case {
        const char* binary;
        int start;
        uint32_t error;
    };
    const Case cases[] = {
        {"/nonexistent/program", 3, 2},
        {"NOT_EXECUTABLE", 3, 5},
        {"NOT_A_PROGRAM", 3, 193},
        {"/bin/sleep 30", 4, scm::errorServiceDisabled},
    };
    writeFile(m_dir / "plain", "plain text\n", 0644);
    writeFile(m_dir / "garbage", "\x01\x02 not a program\n", 0755);
    for (const Case& c : cases) {
        std::string binary = c.binary;
        if (binary == "NOT_EXECUTABLE") binary = m_dir / "plain";
        if (binary == "NOT_A_PROGRAM") binary = m_dir / "garbage";
        addService("velnor agent", binary, c.start);
        scm::Service service = open("velnor agent");
        EXPECT_FALSE(service.start()) << c.binary;
        EXPECT_EQ(scm::lastError(), c.error) << c.binary;
        EXPECT_EQ(query(service).currentState, scm::stateStopped) << c.binary;
    }
}

TEST_F(ServiceDatabase, TheServiceGetsItsEnvironmentAndNothingElse) {
    const std::string out = m_dir / "out.txt";
    // A descriptor of the starter that would survive exec.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(dup2(fd, 37), 0);
    addService("Velnor Agent",
               "/bin/sh -c \"echo $TRIVANE_SCM_SERVICE:$TRIVANE_SCM_DIR:$(pwd):$(readlink /proc/$$/fd/0):"
               "$(readlink /proc/$$/fd/1):$(test -e /proc/$$/fd/37 && echo leaked):"
               "$(cut -d' ' -f6 /proc/$$/stat)=$$ > " + out + "\"");
    scm::Service service = open("velnor agent");
    const bool started = service.start();
    close(37);
    close(fd);
    ASSERT_TRUE(started) << scm::lastError();
    ASSERT_TRUE(waitFor([&] { return readFile(out).find('\n') != std::string::npos; }));
    const std::string text = readFile(out);
    const size_t equals = text.rfind('=');
    const std::string session = text.substr(text.rfind(':') + 1, equals - text.rfind(':') - 1);
    const std::string pid = text.substr(equals + 1, text.size() - equals - 2);
    EXPECT_EQ(text.substr(0, text.rfind(':') + 1), "Velnor Agent:" + scm() + ":/:/dev/null:/dev/null::");
    // A session of its own: its leader is the shell itself.
    EXPECT_EQ(session, pid);
}

TEST_F(ServiceDatabase, CreatesOpensAndDeletesServices) {
    scm::ServiceManager manager;
    ASSERT_TRUE(manager.open(scm::managerAllAccess));
    scm::Service created;
    ASSERT_TRUE(manager.createService("Velnor Gateway 2", "Velnor Gateway Two", scm::serviceAllAccess, scm::startDemand,
                                      "/usr/bin/gateway -x", &created));
    EXPECT_EQ(readFile(scm() + "/velnor gateway 2.service"),
              "name=Velnor Gateway 2\ndisplay=Velnor Gateway Two\nbinary=/usr/bin/gateway -x\nstart=3\n");
    struct stat st;
    ASSERT_EQ(stat((scm() + "/velnor gateway 2.service").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    struct Case {
        const char* name;
        const char* display;
        uint32_t startType;
        const char* binary;
        uint32_t error;
    };
    const Case refused[] = {
        {"VELNOR gateway 2", "", 2, "/bin/true", scm::errorServiceExists},
        {"Another", "velnor gateway two", 2, "/bin/true", scm::errorDuplicateName},
        {"Another", "Velnor Gateway 2", 2, "/bin/true", scm::errorDuplicateName},
        {"", "", 2, "/bin/true", scm::errorInvalidName},
        {"a/b", "", 2, "/bin/true", scm::errorInvalidName},
        {"line\nbreak", "", 2, "/bin/true", scm::errorInvalidName},
        {"Another", "display\nbreak", 2, "/bin/true", scm::errorInvalidParameter},
        {"Another", "", 2, "", scm::errorInvalidParameter},
        {"Another", "", 1, "/bin/true", scm::errorInvalidParameter},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(manager.createService(c.name, c.display, scm::serviceAllAccess, c.startType, c.binary)) << c.name;
        EXPECT_EQ(scm::lastError(), c.error) << c.name;
    }

    scm::Service missing;
    EXPECT_FALSE(manager.openService("velnor gateway 3", scm::serviceAllAccess, missing));
    EXPECT_EQ(scm::lastError(), scm::errorServiceDoesNotExist);

    scm::Service readOnly;
    ASSERT_TRUE(manager.openService("velnor gateway 2", scm::serviceQueryStatus, readOnly));
    EXPECT_FALSE(readOnly.start());
    EXPECT_EQ(scm::lastError(), scm::errorAccessDenied);
    EXPECT_FALSE(readOnly.remove());
    EXPECT_EQ(scm::lastError(), scm::errorAccessDenied);

    ASSERT_TRUE(created.remove());
    EXPECT_NE(stat((scm() + "/velnor gateway 2.service").c_str(), &st), 0);
    EXPECT_FALSE(created.remove());
    EXPECT_EQ(scm::lastError(), 1072u);
    EXPECT_FALSE(manager.openService("velnor gateway 2", scm::serviceAllAccess, missing));
    EXPECT_EQ(scm::lastError(), scm::errorServiceDoesNotExist);

    scm::ServiceManager connectOnly;
    ASSERT_TRUE(connectOnly.open(scm::managerConnect));
    EXPECT_FALSE(connectOnly.createService("Another", "", scm::serviceAllAccess, 2, "/bin/true"));
    EXPECT_EQ(scm::lastError(), scm::errorAccessDenied);
}

TEST_F(ServiceDatabase, RefusesFilesAndDirectoriesItCannotTrust) {
    struct Case {
        const char* what;
        std::function<void(const std::string& scm, const std::string& file)> spoil;
        bool managerFails;
        uint32_t error;
    };
    const Case cases[] = {
        {"service file writable by its group", [](auto&, auto& file) { chmod(file.c_str(), 0664); }, false, 5},
        {"service file writable by others", [](auto&, auto& file) { chmod(file.c_str(), 0646); }, false, 5},
        {"service file of another user", [](auto&, auto& file) { EXPECT_EQ(chown(file.c_str(), 65534, 65534), 0); }, false, 5},
        {"service file a link",
         [](auto& scm, auto& file) {
             rename(file.c_str(), (scm + "/../elsewhere").c_str());
             EXPECT_EQ(symlink((scm + "/../elsewhere").c_str(), file.c_str()), 0);
         },
         false, 5},
        {"database writable by its group", [](auto& scm, auto&) { chmod(scm.c_str(), 0775); }, true, 5},
        {"database of another user", [](auto& scm, auto&) { EXPECT_EQ(chown(scm.c_str(), 65534, 65534), 0); }, true, 5},
        {"database a link",
         [](auto& scm, auto&) {
             rename(scm.c_str(), (scm + ".real").c_str());
             EXPECT_EQ(symlink((scm + ".real").c_str(), scm.c_str()), 0);
         },
         true, 5},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string scm = dir / "scm";
        const std::string file = scm + "/velnor agent.service";
        mkdir(scm.c_str(), 0755);
        writeFile(file, "name=velnor agent\nbinary=/bin/sleep 30\nstart=3\n");
        c.spoil(scm, file);
        setenv("TRIVANE_SCM_DIR", scm.c_str(), 1);
        scm::ServiceManager manager;
        scm::Service service;
        const bool opened = manager.open(scm::managerConnect) && manager.openService("velnor agent", scm::serviceAllAccess, service);
        EXPECT_FALSE(opened) << c.what;
        EXPECT_EQ(scm::lastError(), c.error) << c.what;
        EXPECT_EQ(manager.isOpen(), !c.managerFails) << c.what;
    }
}

TEST_F(ServiceDatabase, AMissingDatabaseIsCreatedOnlyForCreating) {
    const std::string fresh = m_dir / "var/lib/scm";
    setenv("TRIVANE_SCM_DIR", fresh.c_str(), 1);
    scm::ServiceManager manager;
    EXPECT_FALSE(manager.open(scm::managerConnect));
    EXPECT_EQ(scm::lastError(), scm::errorDatabaseDoesNotExist);
    ASSERT_TRUE(manager.open(scm::managerAllAccess));
    struct stat st;
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(ServiceDatabase, AStopNeverReachesAProcessThatTookARecycledPid) {
    // This test process adopts the orphaned service, so that it can reap it
    // and free its pid for reuse.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    addService("velnor agent", "/bin/sleep 60");
    scm::Service service = open("velnor agent");
    ASSERT_TRUE(service.start());
    const pid_t pid = static_cast<pid_t>(query(service).processId);
    ASSERT_GT(pid, 0);
    // The impostor starts at least one clock tick later, as any process that
    // could get a recycled pid does.
    const unsigned long long started = startTicks(pid);
    ASSERT_TRUE(waitFor([&] { return bootTicks() > started; }));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);

    // Hand the same pid to a new process. Other tests fork and start threads
    // meanwhile and may take the pid first, so try many times.
    pid_t impostor = -1;
    for (int attempt = 0; attempt < 2000 && impostor != pid; ++attempt) {
        if (impostor > 0) {
            kill(impostor, SIGKILL);
            waitpid(impostor, nullptr, 0);
        }
        writeFile("/proc/sys/kernel/ns_last_pid", std::to_string(pid - 1));
        impostor = fork();
        if (impostor == 0) {
            pause();
            _exit(0);
        }
    }
    if (impostor != pid) {
        // A live child would hold the test's output open until ctest's time-out.
        if (impostor > 0) {
            kill(impostor, SIGKILL);
            waitpid(impostor, nullptr, 0);
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        FAIL() << "the pid could not be recycled";
    }

    scm::ServiceStatus status;
    EXPECT_FALSE(service.control(scm::controlStop, status));
    EXPECT_EQ(scm::lastError(), scm::errorServiceNotActive);
    EXPECT_EQ(query(service).currentState, scm::stateStopped);
    EXPECT_EQ(waitpid(impostor, nullptr, WNOHANG), 0) << "the impostor was signalled";
    kill(impostor, SIGKILL);
    waitpid(impostor, nullptr, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST_F(ServiceDatabase, OnlyAProcessItStartedIsDispatched) {
    unsetenv("TRIVANE_SCM_SERVICE");
    EXPECT_FALSE(scm::startServiceDispatcher("velnor agent", [](uint32_t, char**) {}));
    EXPECT_EQ(scm::lastError(), scm::errorFailedServiceControllerConnect);
    setenv("TRIVANE_SCM_SERVICE", "velnor agent", 1);
    EXPECT_FALSE(scm::startServiceDispatcher("velnor agent", [](uint32_t, char**) {}));
    EXPECT_EQ(scm::lastError(), scm::errorFailedServiceControllerConnect);
    unsetenv("TRIVANE_SCM_SERVICE");

    EXPECT_EQ(scm::registerControlHandler("velnor agent", [](uint32_t, uint32_t, void*, void*) -> uint32_t { return 0; }, nullptr), 0u);
    EXPECT_EQ(scm::lastError(), scm::errorFailedServiceControllerConnect);
    EXPECT_FALSE(scm::setServiceStatus(1, scm::ServiceStatus{}));
    EXPECT_EQ(scm::lastError(), scm::errorInvalidHandle);
}

}  // namespace
