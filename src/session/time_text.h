#pragma once

#include <cstdint>
#include <string>

#include "clock.h"

namespace kolvena {

// Local time of day, "09:05:03".
std::string FormatClock(CalendarTime time);
// FormatClock of the current time.
std::string NowClock(const Clock& clock);
// Hours within the day, minutes and seconds of a span: 90061 s gives "01:01:01".
std::string FormatDuration(std::int32_t seconds);
// "14:03:07 (6/18/2001)": the clock, then month/day/year without leading zeros.
std::string FormatClockAndDate(CalendarTime time);
// "6-18-2001": the date part of default file names.
std::string FormatFileDate(CalendarTime time);

} // namespace kolvena
