// The service framework: the executable installs and uninstalls itself as a
// service, runs its run function under the service controller or in the
// foreground, and asks the run function to stop through a semaphore.
#pragma once

#include "base/runtime.h"
#include "base/servicecontrol.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

class ServiceNT {
public:
    using RunFunction = int (*)(int argc, char** argv);

    // The name is kept, not copied: it must live as long as the process.
    static void setServiceName(const char* name);
    static void setRunFunction(RunFunction run);

    // Dispatches on the first argument: "-i", "-im", "-ia" install; "-d"
    // uninstalls; "-t", "-g", "-f", "-v", "-c", "-in" run in the foreground
    // (the result of launch is returned); anything else, or nothing, runs
    // under the service controller. Returns 0 but in the foreground.
    static int main(int argc, char** argv);

    // Runs the run function, then ends the toolkit's threads and releases the
    // finished semaphore. The run function's result, 0 when it threw.
    static int launch(int argc, char** argv);
    // False once for every stop request; waits 1 ms otherwise.
    static bool isRunning();
    // Logs the text of the calling thread's last service-control error.
    static void printError();

    static bool installService();
    static bool uninstallService();
    static bool createService(const String& name, const String& binaryPath);

    static void serviceMain(uint32_t argc, char** argv);
    static uint32_t serviceControlHandler(uint32_t control, uint32_t eventType, void* eventData, void* context);
    static bool consoleControlHandler(uint32_t controlType);
};

}  // namespace trivane
