// scmctl: start, stop and query the services of the service database from a
// shell, for operators and scripts.
#include "base/clock.h"
#include "base/servicecontrol.h"

#include <cstdio>
#include <cstring>

using namespace trivane;

namespace {

constexpr uint64_t s_stopLimitMs = 30000;

const char* stateName(uint32_t state) {
    static const char* const names[] = {"unknown", "stopped", "start-pending", "stop-pending",
                                        "running", "continue-pending", "pause-pending", "paused"};
    return state < sizeof names / sizeof names[0] ? names[state] : "unknown";
}

int failed(const char* call) {
    std::fprintf(stderr, "scmctl: %s failed (%u)\n", call, scm::lastError());
    return 1;
}

void print(const char* name, const scm::ServiceStatusProcess& status) {
    std::printf("%s: %s", name, stateName(status.currentState));
    if (status.processId != 0) std::printf(" (pid %u)", status.processId);
    std::printf("\n");
}

// Waits for the stopped state as the service's wait hints allow, at most 30 s.
int waitStopped(const char* name, scm::Service& service) {
    const uint64_t start = steadyMilliseconds();
    scm::ServiceStatusProcess status;
    for (;;) {
        if (!service.queryStatus(status)) return failed("QueryServiceStatusEx");
        if (status.currentState == scm::stateStopped) break;
        if (steadyMilliseconds() - start > s_stopLimitMs) {
            std::fprintf(stderr, "scmctl: %s did not stop within %llu ms\n", name, static_cast<unsigned long long>(s_stopLimitMs));
            return 1;
        }
        uint32_t pause = status.waitHint / 10;
        sleepMilliseconds(pause < 100 ? 100 : pause > 1000 ? 1000 : pause);
    }
    print(name, status);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "start") != 0 && std::strcmp(argv[1], "stop") != 0 &&
                      std::strcmp(argv[1], "query") != 0)) {
        std::fprintf(stderr, "usage: scmctl start|stop|query SERVICE-NAME\n"
                             "The service database is TRIVANE_SCM_DIR (default /var/lib/trivane/scm).\n");
        return 2;
    }
    const char* command = argv[1];
    const char* name = argv[2];
    scm::ServiceManager manager;
    if (!manager.open(scm::managerConnect)) return failed("OpenSCManager");
    scm::Service service;
    if (!manager.openService(String(name), scm::serviceAllAccess, service)) return failed("OpenService");

    scm::ServiceStatusProcess status;
    if (std::strcmp(command, "start") == 0) {
        if (!service.start()) return failed("StartService");
    } else if (std::strcmp(command, "stop") == 0) {
        scm::ServiceStatus afterControl;
        if (!service.control(scm::controlStop, afterControl)) return failed("ControlService");
        return waitStopped(name, service);
    }
    if (!service.queryStatus(status)) return failed("QueryServiceStatusEx");
    print(name, status);
    return 0;
}
