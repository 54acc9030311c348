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

TEST(AddressCode, EncodesAndDecodesAddresses) {
    EXPECT_EQ(Ipv4Value("192.168.0.1"), 16820416u);
    EXPECT_EQ(MakeAddressCode("192.168.0.1"), 16820416u - 41357u);
    EXPECT_EQ(DottedFromValue(AddressFromCode(MakeAddressCode("192.168.0.1"))), "192.168.0.1");
    EXPECT_EQ(Ipv4Value("0.0.0.1"), 16777216u);
    EXPECT_EQ(DottedFromValue(AddressFromCode(MakeAddressCode("127.0.0.1"))), "127.0.0.1");
}

TEST(AddressCode, SmallValuesWrapAround) {
    EXPECT_EQ(Ipv4Value("10.0.0.0"), 10u);
    const AddressCode code = MakeAddressCode("10.0.0.0");
    EXPECT_EQ(code, 4294967296ull + 10 - 41357);
    EXPECT_EQ(DottedFromValue(AddressFromCode(code)), "10.0.0.0");
}

TEST(AddressCode, TextThatDoesNotConvertGivesTheNoneValue) {
    EXPECT_EQ(Ipv4Value("not an address"), 0xFFFFFFFFu);
    EXPECT_EQ(MakeAddressCode("999.1.1.1"), 0xFFFFFFFFu - 41357u);
    EXPECT_EQ(Ipv4Value(""), 0xFFFFFFFFu);
}

} // namespace
} // namespace kolvena
