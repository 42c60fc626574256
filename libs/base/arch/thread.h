// The platform's view of the calling thread.
#pragma once

#include <cstdint>

namespace trivane::sys {

uint64_t currentThreadId() noexcept;

}  // namespace trivane::sys
