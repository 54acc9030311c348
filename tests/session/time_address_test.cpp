#include <gtest/gtest.h>

#include "session/address_code.h"
#include "session/time_text.h"

namespace kolvena {
namespace {

// The suite runs with TZ=UTC.
constexpr CalendarTime kJune18th2001 = 992872987; // 2001-06-18 14:03:07 UTC

TEST(TimeText, ClockDurationAndDate) {
    EXPECT_EQ(FormatClock(9 * 3600 + 5 * 60 + 3), "09:05:03");
    EXPECT_EQ(FormatClock(kJune18th2001), "14:03:07");
    EXPECT_EQ(FormatDuration(90061), "01:01:01");
    EXPECT_EQ(FormatDuration(0), "00:00:00");
    EXPECT_EQ(FormatDuration(86399), "23:59:59");
    EXPECT_EQ(FormatClockAndDate(kJune18th2001), "14:03:07 (6/18/2001)");
    EXPECT_EQ(FormatFileDate(kJune18th2001), "6-18-2001");
}

TEST(AddressCode, ValueCodeAndBackAgain) {
    struct Row {
        const char* dotted;
        std::uint32_t value;
        AddressCode code;
    };
    const Row rows[] = {
        {"192.168.0.1", 16820416u, 16820416u - 41357u},
        {"0.0.0.1", 16777216u, 16777216u - 41357u},
        {"127.0.0.1", 16777343u, 16777343u - 41357u},
        {"10.0.0.0", 10u, static_cast<AddressCode>(4294967296ull + 10 - 41357)}, // wraps around
        // Text that does not convert gives the none value.
        {"not an address", 0xFFFFFFFFu, 0xFFFFFFFFu - 41357u},
        {"999.1.1.1", 0xFFFFFFFFu, 0xFFFFFFFFu - 41357u},
        {"", 0xFFFFFFFFu, 0xFFFFFFFFu - 41357u},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.dotted);
        EXPECT_EQ(Ipv4Value(r.dotted), r.value);
        EXPECT_EQ(MakeAddressCode(r.dotted), r.code);
        EXPECT_EQ(AddressFromCode(r.code), r.value);
    }
    EXPECT_EQ(DottedFromValue(16820416u), "192.168.0.1");
    EXPECT_EQ(DottedFromValue(10u), "10.0.0.0");
}

} // namespace
} // namespace kolvena
