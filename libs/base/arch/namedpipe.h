// The platform's named pipes behind a small typed interface. A failing call
// fills a PipeError: the Windows error number of the failure and, where the
// platform tells its steps apart, the line the stream reports.
#pragma once

#include "base/string.h"

#include <cstdint>

namespace trivane::sys {

struct SecurityDescriptor;

using PipeHandle = intptr_t;
constexpr PipeHandle invalidPipe = -1;

// Windows numbers the pipe layer reports.
constexpr uint32_t errorFileNotFound = 2;
constexpr uint32_t errorAccessDenied = 5;
constexpr uint32_t errorInvalidHandle = 6;
constexpr uint32_t errorBrokenPipe = 109;
constexpr uint32_t errorInvalidName = 123;
constexpr uint32_t errorPipeBusy = 231;
constexpr uint32_t errorNoData = 232;
constexpr uint32_t errorNoneMapped = 1332;

struct PipeError {
    uint32_t code = 0;  // 0: none
    uint32_t line = 0;  // 0: the caller's own line for the operation
};

// A client end of the pipe `name`. Never waits for a free instance: every
// instance taken is errorPipeBusy, no pipe of that name errorFileNotFound.
PipeHandle pipeConnect(const String& name, PipeError& error);

// The listening end of one pipe name: the instances waiting for clients.
struct PipeListener;

// Creates the pipe `name` with `instances` instances waiting for clients.
// A name another server already serves is refused (errorAccessDenied).
// `descriptor` null gives the system's default protection.
PipeListener* pipeListen(const String& name, int instances, const SecurityDescriptor* descriptor,
                         PipeError& error);
// Closes every instance; null is ignored.
void pipeUnlisten(PipeListener* listener);
// A handle that stands for the listener, for display.
PipeHandle pipeListenerHandle(const PipeListener& listener);
// The next connected client, waiting up to `timeoutMs` (0: no limit) for
// one. invalidPipe with no error code when the time passed first.
PipeHandle pipeAccept(PipeListener& listener, uint32_t timeoutMs, PipeError& error);

// The bytes moved, 0 when the time-out (0 ms: no limit) passed first, -1 on
// error. A read at the end of the stream is errorBrokenPipe, a write to a
// client that has gone errorNoData; neither raises a signal.
// A read with `wait` false takes only what has arrived (0 when nothing has).
int32_t pipeRead(PipeHandle pipe, void* buffer, uint32_t count, uint32_t timeoutMs, PipeError& error,
                 bool wait = true);
int32_t pipeWrite(PipeHandle pipe, const void* buffer, uint32_t count, uint32_t timeoutMs, PipeError& error);
// Ends both directions, waking a thread blocked on the pipe: the call it is
// in and every later one fail. May be called from another thread than the
// owner's, as long as the owner has not closed the pipe.
void pipeShutdown(PipeHandle pipe);
void pipeClose(PipeHandle pipe);

// The account of the client process as "name@domain" (the domain of a
// local account is the host's short name).
bool pipeClientUserName(PipeHandle pipe, String& user, PipeError& error);
// The elevation type of the client's token: 1 default, 2 full, 3 limited.
bool pipeClientElevation(PipeHandle pipe, int& type, PipeError& error);

}  // namespace trivane::sys
