// The process-wide objects, built in dependency order and torn down in reverse.
#include "base/runtime.h"

#include "base/console.h"
#include "base/disposeguard.h"

#include <new>

namespace trivane {

namespace {

int s_users = 0;

// Placement storage: these objects live outside ordinary static
// initialisation and destruction order.
alignas(Console) unsigned char s_consoleStorage[sizeof(Console)];
alignas(gc::DisposeGuard) unsigned char s_guardStorage[sizeof(gc::DisposeGuard)];

Console* s_console = nullptr;
gc::DisposeGuard* s_guard = nullptr;

void startRuntime() {
    s_console = new (s_consoleStorage) Console();
    s_console->acquire();
    s_guard = new (s_guardStorage) gc::DisposeGuard();
}

void stopRuntime() {
    gc::DisposeGuard* guard = s_guard;
    guard->~DisposeGuard();
    s_guard = nullptr;
    Console* console = s_console;
    s_console = nullptr;
    console->~Console();
}

}  // namespace

Console* Console::instance() noexcept { return s_console; }
gc::DisposeGuard* gc::DisposeGuard::instance() noexcept { return s_guard; }

namespace detail {

RuntimeInit::RuntimeInit() {
    if (s_users++ == 0) startRuntime();
}

RuntimeInit::~RuntimeInit() {
    if (--s_users == 0) stopRuntime();
}

}  // namespace detail

}  // namespace trivane
