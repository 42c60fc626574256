// Clocks and the calendar on Windows.
#include "base/clock.h"

#include "base/arch/clock.h"

#include <windows.h>

namespace trivane {

namespace {
// 100-ns intervals between 1601 and 1970.
constexpr uint64_t epochOffset = 116444736000000000ULL;

uint64_t hundredNanosSince1970() noexcept {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks - epochOffset;
}
}  // namespace

uint64_t currentMilliseconds() noexcept { return hundredNanosSince1970() / 10000; }
uint64_t currentMicroseconds() noexcept { return hundredNanosSince1970() / 10; }

uint64_t steadyMilliseconds() noexcept {
    static const uint64_t s_frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    const uint64_t ticks = static_cast<uint64_t>(count.QuadPart);
    return ticks / s_frequency * 1000 + ticks % s_frequency * 1000 / s_frequency;
}

void sleepMilliseconds(uint32_t ms) noexcept { Sleep(ms); }

}  // namespace trivane

namespace trivane::sys {

LocalTime localTime(int64_t secondsSince1970) noexcept {
    LocalTime result;
    const uint64_t ticks = static_cast<uint64_t>(secondsSince1970) * 10000000ULL + epochOffset;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal, local;
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return result;
    result.year = local.wYear;
    result.month = local.wMonth;
    result.day = local.wDay;
    result.hour = local.wHour;
    result.minute = local.wMinute;
    result.second = local.wSecond;
    return result;
}

}  // namespace trivane::sys
