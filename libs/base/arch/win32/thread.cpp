// Threads on Windows.
//
// Threads are created through the C runtime's thread library (winpthreads,
// itself over _beginthreadex), not with _beginthreadex directly: the
// runtime's per-thread storage (thread_local) is then released as the thread
// function returns. On a thread the library did not create, that release
// runs from the loader's thread-detach callback, under the loader lock; with
// threads starting and ending at a steady rate (one per XML-RPC connection)
// this stalled every later thread start for good.
#include "base/arch/thread.h"

#include <windows.h>
#include <pthread.h>

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

// The debugger's thread-naming exception. Without a debugger nobody takes it
// but this handler, which lets the thread go on.
constexpr DWORD nameException = 0x406D1388;

LONG CALLBACK skipNameException(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == nameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                 : EXCEPTION_CONTINUE_SEARCH;
}

#pragma pack(push, 8)
struct NameInfo {
    DWORD type;  // 0x1000
    LPCSTR name;
    DWORD threadId;  // -1: the calling thread
    DWORD flags;
};
#pragma pack(pop)

using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);

}  // namespace

uint64_t currentThreadId() noexcept { return GetCurrentThreadId(); }

bool threadCreate(std::size_t stackSize, ThreadEntry entry, void* argument) noexcept {
    Start* start = new (std::nothrow) Start{entry, argument};
    if (!start) return false;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize) pthread_attr_setstacksize(&attributes, stackSize);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attributes, trampoline, start);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete start;
        return false;
    }
    return true;
}

void threadSetName(const char* name) noexcept {
    static PVOID const s_handler = AddVectoredExceptionHandler(0, skipNameException);
    (void)s_handler;
    NameInfo info{0x1000, name, static_cast<DWORD>(-1), 0};
    RaiseException(nameException, 0, sizeof info / sizeof(ULONG_PTR), reinterpret_cast<const ULONG_PTR*>(&info));

    // Newer systems also keep a description that tools read without a
    // debugger attached.
    static const auto s_describe = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
    if (!s_describe) return;
    wchar_t wide[64];
    const int n = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 64);
    if (n <= 0) return;
    wide[63] = 0;
    s_describe(GetCurrentThread(), wide);
}

}  // namespace trivane::sys
