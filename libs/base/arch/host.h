// The platform's view of the process and the host it runs on.
#pragma once

#include "base/string.h"

#include <cstdint>
#include <string_view>

namespace trivane::sys {

// A write to a closed pipe or socket must fail with an error, not end the
// process.
void ignoreBrokenPipe() noexcept;

struct OsVersion {
    String name;
    uint32_t major = 0;
    uint32_t minor = 0;
    String release;  // the service-pack text of the host description
};

struct ProcessorInfo {
    uint32_t oemId = 0;
    uint32_t processors = 0;
    uint32_t pageSize = 0;
    uint32_t processorType = 0;
    uint32_t activeMask = 0;
};

// One log line for an attached debugger; nothing where the system has no
// such channel.
void debugOutput(std::string_view line) noexcept;

// Stops the terminal from echoing what is typed on standard input, for a
// password; false (and nothing changed) when standard input is no terminal.
bool inputEchoOff() noexcept;
// Gives back the echo taken by inputEchoOff.
void inputEchoOn() noexcept;

String systemDirectory();
String windowsDirectory();
// Ends with a separator. Empty when the system cannot tell, which includes
// a path that does not fit the system's 260-byte buffer.
String temporaryDirectory();
bool osVersion(OsVersion& version);
ProcessorInfo processorInfo();
// The account name of the effective user; false when it has none.
bool userName(String& name);

// False when the system cannot tell.
bool currentDirectory(String& path);
bool profileDirectory(String& path);
bool applicationDataDirectory(String& path);

}  // namespace trivane::sys
