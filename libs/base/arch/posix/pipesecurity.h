// What the named-pipe layer calls around binding its socket, so that the
// pipe's protection holds on Linux. Posix-only: it speaks in descriptors.
//
//   int dir = openPipeDirectory(pipeDirectory(), error);   // before bind
//   bind the socket at pipeSocketPath(dir, name)           // relative to dir
//   protectPipeSocket(dir, name, attributes.securityDescriptor);
#pragma once

#include "base/pipesecurity.h"
#include "base/string.h"

#include <cstdint>

namespace trivane::sys {

// TRIVANE_PIPE_DIR, or /run/trivane/pipe when unset or empty.
String pipeDirectory();

// The pipe directory as a descriptor (O_DIRECTORY, close-on-exec), or -1
// with the Windows error in `error`. A missing directory is created with its
// parents, mode 0755. One that exists must be a real directory (no link),
// owned by root or this process's user and not writable by group or others;
// otherwise 5 (ERROR_ACCESS_DENIED): another user could have placed a socket
// of the pipe's name there first.
int openPipeDirectory(const String& path, uint32_t& error);

// A path naming `name` through the directory descriptor, for bind() and
// connect(), so that the checked directory is the one used.
String pipeSocketPath(int directoryFd, const String& name);

// Gives the socket bound as `name` the mode the descriptor grants: 0666 when
// everyone may connect, else 0600 (also without a descriptor, as Windows
// gives write access only to the creator by default). 0 or a Windows error.
uint32_t protectPipeSocket(int directoryFd, const String& name, const SecurityDescriptor* descriptor);

}  // namespace trivane::sys
