// Threads on POSIX.
#include "base/arch/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <new>

namespace trivane::sys {

namespace {

struct Start {
    ThreadEntry entry;
    void* argument;
};

void* trampoline(void* raw) {
    const Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.entry(start.argument);
    return nullptr;
}

}  // namespace

// gettid is a system call and every log line asks for it: cache it per
// thread. A child made by fork is a new thread and asks again.
thread_local uint64_t t_id = 0;

void forgetId() { t_id = 0; }

uint64_t currentThreadId() noexcept {
    if (t_id == 0) [[unlikely]] {
        static const bool registered = pthread_atfork(nullptr, nullptr, forgetId) == 0;
        (void)registered;
        t_id = static_cast<uint64_t>(gettid());
    }
    return t_id;
}

bool threadCreate(std::size_t stackSize, ThreadEntry entry, void* argument) noexcept {
    Start* start = new (std::nothrow) Start{entry, argument};
    if (!start) return false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    const int failed = pthread_create(&thread, &attr, trampoline, start);
    pthread_attr_destroy(&attr);
    if (failed) delete start;
    return !failed;
}

void threadSetName(const char* name) noexcept {
    // The kernel keeps 15 bytes and the NUL.
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = 0;
    pthread_setname_np(pthread_self(), shortName);
}

}  // namespace trivane::sys
