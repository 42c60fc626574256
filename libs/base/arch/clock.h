// The platform's calendar: broken-down local time.
#pragma once

#include <cstdint>

namespace trivane::sys {

struct LocalTime {
    int year = 1970;  // four digits
    int month = 1;    // 1 to 12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

LocalTime localTime(int64_t secondsSince1970) noexcept;

}  // namespace trivane::sys
