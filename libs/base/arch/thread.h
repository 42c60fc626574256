// The platform's threads: identity, creation and names for debuggers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trivane::sys {

uint64_t currentThreadId() noexcept;

using ThreadEntry = void (*)(void* argument);

// Starts a thread that runs entry(argument) and releases its own resources
// when it returns (no join is needed). `stackSize` 0 is the system default.
// False when the system could not create it.
bool threadCreate(std::size_t stackSize, ThreadEntry entry, void* argument) noexcept;

// Names the calling thread for debuggers; the system may shorten it.
void threadSetName(const char* name) noexcept;

}  // namespace trivane::sys
