// Clocks and the calendar on POSIX.
#include "base/clock.h"

#include "base/arch/clock.h"

#include <cerrno>
#include <ctime>

namespace trivane {

namespace {
uint64_t read(clockid_t clock, uint64_t perSecond, uint64_t nanosPerUnit) noexcept {
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * perSecond + static_cast<uint64_t>(ts.tv_nsec) / nanosPerUnit;
}
}  // namespace

uint64_t currentMilliseconds() noexcept { return read(CLOCK_REALTIME, 1000, 1000000); }
uint64_t currentMicroseconds() noexcept { return read(CLOCK_REALTIME, 1000000, 1000); }
uint64_t steadyMilliseconds() noexcept { return read(CLOCK_MONOTONIC, 1000, 1000000); }

void sleepMilliseconds(uint32_t ms) noexcept {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace trivane

namespace trivane::sys {

LocalTime localTime(int64_t secondsSince1970) noexcept {
    const time_t seconds = static_cast<time_t>(secondsSince1970);
    tm local{};
    LocalTime result;
    if (!localtime_r(&seconds, &local)) return result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec;
    return result;
}

}  // namespace trivane::sys
