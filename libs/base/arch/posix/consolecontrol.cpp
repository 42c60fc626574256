// Console control events from signals, taken by sigwait on a thread of this
// layer's own.
#include "base/consolecontrol.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>

namespace trivane {

namespace {

std::atomic<ConsoleControlHandler> s_handler{nullptr};
std::atomic<bool> s_listening{false};

sigset_t controlSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGQUIT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    return set;
}

uint32_t controlType(int sig) {
    switch (sig) {
        case SIGINT: return ctrlCEvent;
        case SIGQUIT: return ctrlBreakEvent;
        case SIGHUP: return ctrlCloseEvent;
        default: return ctrlShutdownEvent;
    }
}

void* listen(void*) {
    const sigset_t set = controlSignals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        const ConsoleControlHandler handler = s_handler.load();
        if (handler && handler(controlType(sig))) continue;
        // Not handled: the signal's default action ends the process.
        signal(sig, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        raise(sig);
    }
    return nullptr;
}

}  // namespace

bool setConsoleControlHandler(ConsoleControlHandler handler) {
    s_handler = handler;
    if (s_listening.exchange(true)) return true;
    const sigset_t set = controlSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, listen, nullptr) != 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        s_listening = false;
        return false;
    }
    pthread_setname_np(thread, "consolectrl");
    pthread_detach(thread);
    return true;
}

}  // namespace trivane
