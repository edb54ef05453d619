#pragma once
// Calendar time: the conversions the C library offers under different names
// on each system.
#include <cstdint>
#include <ctime>

namespace bcu::platform {

// Local and UTC calendar time of `when`.
std::tm LocalCalendar(std::time_t when);
std::tm UtcCalendar(std::time_t when);
// The time of a UTC calendar date (timegm).
std::time_t TimeFromUtc(std::tm utc);
// Wall-clock time now: seconds and the milliseconds within the second.
void WallClockNow(std::time_t& seconds, int& milliseconds);

}  // namespace bcu::platform
