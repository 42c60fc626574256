// A small program on the service framework, for the process-level tests: its
// run function logs, waits for the stop request and returns 1.
#include "base/console.h"
#include "base/exception.h"
#include "base/servicent.h"

#include <cstdlib>

namespace {

int run(int argc, char** argv) {
    using namespace trivane;
    // Under the service controller standard output is /dev/null: the tests
    // read a trace file instead.
    if (const char* trace = std::getenv("PROBE_TRACE")) Console::instance()->setOutput(LogTrace, String(trace));
    String arguments;
    for (int i = 0; i < argc; ++i) arguments = arguments + "[" + String(argv[i]) + "]";
    log(LogTrace, "probe", "run", "run function started " + arguments);
    if (std::getenv("PROBE_THROW")) TRIVANE_THROW(EBadItem);
    if (std::getenv("PROBE_RETURN")) {
        log(LogTrace, "probe", "run", "run function returning at once");
        return 2;
    }
    while (ServiceNT::isRunning()) {
    }
    log(LogTrace, "probe", "run", "run function stopping");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* name = std::getenv("PROBE_SERVICE_NAME");
    trivane::ServiceNT::setServiceName(name ? name : "Trivane Probe Service");
    trivane::ServiceNT::setRunFunction(run);
    return trivane::ServiceNT::main(argc, argv);
}
