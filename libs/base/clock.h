// Clocks: the wall clock since 1970 and a steady clock for deadlines.
#pragma once

#include <cstdint>

namespace trivane {

// Milliseconds and microseconds since 1 January 1970 UTC.
uint64_t currentMilliseconds() noexcept;
uint64_t currentMicroseconds() noexcept;
// Milliseconds of a clock that never goes back, for deadlines.
uint64_t steadyMilliseconds() noexcept;
void sleepMilliseconds(uint32_t ms) noexcept;

}  // namespace trivane
