#include "time_text.h"

#include <cstdio>
#include <ctime>

namespace kolvena {
namespace {

std::tm LocalTime(CalendarTime time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm parts{};
    localtime_r(&t, &parts);
    return parts;
}

std::string HoursMinutesSeconds(long hours, long minutes, long seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", hours, minutes, seconds);
    return text;
}

} // namespace

std::string FormatClock(CalendarTime time) {
    const std::tm t = LocalTime(time);
    return HoursMinutesSeconds(t.tm_hour, t.tm_min, t.tm_sec);
}

std::string NowClock(const Clock& clock) {
    return FormatClock(clock.Now());
}

std::string FormatDuration(std::int32_t seconds) {
    // Whole days are not shown; the hours are those within the day.
    const long span = seconds;
    const long days = span / 86400;
    const long hours = span / 3600 - 24 * days;
    const long minutes = (span / 60) % 60;
    const long secs = span % 60;
    return HoursMinutesSeconds(hours, minutes, secs);
}

std::string FormatClockAndDate(CalendarTime time) {
    const std::tm t = LocalTime(time);
    char date[64];
    std::snprintf(date, sizeof date, " (%d/%d/%d)", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900);
    return FormatClock(time) + date;
}

std::string FormatFileDate(CalendarTime time) {
    const std::tm t = LocalTime(time);
    char date[64];
    std::snprintf(date, sizeof date, "%d-%d-%d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900);
    return date;
}

} // namespace kolvena
