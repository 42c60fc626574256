// Prints when the console control handler runs: the process-level tests
// send it a Ctrl+C from the Linux side and read what it saw.
#include "base/consolecontrol.h"
#include "base/semaphore.h"

#include <cstdio>

namespace {

trivane::Semaphore s_handled{0};
volatile uint32_t s_type = 0xFFFFFFFF;

bool handler(uint32_t controlType) {
    s_type = controlType;
    s_handled.post();
    return true;
}

}  // namespace

int main() {
    if (!trivane::setConsoleControlHandler(handler)) {
        std::printf("no handler\n");
        return 2;
    }
    std::printf("handler ready\n");
    std::fflush(stdout);
    if (!s_handled.wait(60000)) return 3;
    std::printf("console control %u\n", static_cast<unsigned>(s_type));
    std::fflush(stdout);
    return 0;
}
