// Threads on POSIX.
#include "base/arch/thread.h"

#include <unistd.h>

namespace trivane::sys {

uint64_t currentThreadId() noexcept { return static_cast<uint64_t>(gettid()); }

}  // namespace trivane::sys
