// The platform's named pipes behind a small typed interface. Every failing
// call gives the Windows error number of the failure in `error`.
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
constexpr uint32_t errorBrokenPipe = 109;
constexpr uint32_t errorPipeBusy = 231;
constexpr uint32_t errorNoData = 232;
constexpr uint32_t errorNoneMapped = 1332;

// A name is one file name: empty names and names holding a slash or a
// backslash are ERROR_INVALID_NAME (123).

// A client end of the pipe `name`. Never waits for a free instance: every
// instance taken is errorPipeBusy, no pipe of that name errorFileNotFound.
PipeHandle pipeConnect(const String& name, uint32_t& error);

// The listening end of one pipe name.
struct PipeListener {
    PipeHandle handle = invalidPipe;
    int directory = -1;
    uint64_t device = 0;
    uint64_t inode = 0;
    String name;
};

// Creates the pipe `name` with room for `instances` clients connecting at
// once. A pipe of that name left by a server that is gone is replaced; one
// that a live server answers on is errorAccessDenied. `descriptor` null
// gives the default protection (only this user may connect).
bool pipeListen(const String& name, int instances, const SecurityDescriptor* descriptor, PipeListener& out,
                uint32_t& error);
// Closes the listening end and removes the pipe's name when it is still the
// one this listener created.
void pipeUnlisten(PipeListener& listener);

// 1 when a client waits, 0 on time-out (0 ms waits without limit), -1 on error.
int pipeWaitClient(PipeHandle listener, uint32_t timeoutMs, uint32_t& error);
// The next waiting client, or invalidPipe with error 0 when none waits.
PipeHandle pipeAccept(PipeHandle listener, uint32_t& error);

// The bytes moved, 0 when the time-out (0 ms: no limit) passed first, -1 on
// error. A read at the end of the stream is errorBrokenPipe, a write to a
// client that has gone errorNoData; neither raises a signal.
// A read with `wait` false takes only what has arrived (0 when nothing has).
int32_t pipeRead(PipeHandle pipe, void* buffer, uint32_t count, uint32_t timeoutMs, uint32_t& error,
                 bool wait = true);
int32_t pipeWrite(PipeHandle pipe, const void* buffer, uint32_t count, uint32_t timeoutMs, uint32_t& error);
// Ends both directions, waking a thread blocked on the pipe; the pipe stays open.
void pipeShutdown(PipeHandle pipe);
void pipeClose(PipeHandle pipe);

// The account of the client process, fixed when it opened the pipe.
bool pipeClientUid(PipeHandle pipe, uint32_t& uid, uint32_t& error);
// The account name and its domain (the host's short name).
bool accountName(uint32_t uid, String& name, String& domain, uint32_t& error);
// The elevation type of the client's token: 1 default, 2 full, 3 limited.
bool pipeClientElevation(PipeHandle pipe, int& type, uint32_t& error);

}  // namespace trivane::sys
