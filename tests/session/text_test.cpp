#include <gtest/gtest.h>

#include <algorithm>

#include "session/address_code.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "session/text.h"
#include "session/time_text.h"

namespace kolvena {
namespace {

TEST(ByteReader, ReadsLittleEndianAndAFailedReadPoisonsLaterReads) {
    const std::string bytes("\x01\x02\x03\x04\x05\x06\x07\x05\x00\x41", 10);
    ByteReader r(bytes);
    std::uint8_t a = 0;
    std::uint16_t b = 0, n = 0;
    std::uint32_t c = 0;
    ASSERT_TRUE(r.U8(a) && r.U16(b) && r.U32(c) && r.U16(n));
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x0302);
    EXPECT_EQ(c, 0x07060504u);
    std::string_view taken;
    EXPECT_FALSE(r.Take(n, taken)); // claims 5, has 1
    EXPECT_EQ(r.Position(), 9u);
    EXPECT_FALSE(r.U8(a)); // the byte is there, but the reader has already failed
    EXPECT_FALSE(r.Ok());
}

TEST(ByteWriter, FieldPadsWithNulAndCutsWithoutSplittingACharacter) {
    std::string out;
    ByteWriter w(out);
    w.Field("ab", 4);
    // 19 ASCII bytes and a two-byte character would straddle byte 20: the character goes.
    w.Field(std::string(19, 'x') + ToGbk("王"), 20);
    EXPECT_EQ(out, std::string("ab\0\0", 4) + std::string(19, 'x') + '\0');
}

TEST(Gbk, ConvertsBothWaysAndMarksWhatItCannotConvert) {
    EXPECT_EQ(ToGbk("会话组长 Bob"), "\xBB\xE1\xBB\xB0\xD7\xE9\xB3\xA4 Bob");
    EXPECT_EQ(FromGbk("\xBB\xE1\xBB\xB0\xD7\xE9\xB3\xA4 Bob"), "会话组长 Bob");
    EXPECT_EQ(ToGbk("a\xF0\x9F\x98\x80"
                    "b"),
              "a?b"); // an emoji
    EXPECT_EQ(ToGbk("a\xC3"
                    "b"),
              "a?b"); // broken UTF-8
    EXPECT_EQ(FromGbk(std::string(1, '\x81')), "\xEF\xBF\xBD");
    // A lone lead byte in the middle, a byte GBK never uses, one at the end: shown, not dropped.
    const std::string shown = FromGbk(std::string("a\x81"
                                                  "b\xFF"
                                                  "c\xB0",
                                                  6));
    EXPECT_NE(shown.find('a'), std::string::npos);
    EXPECT_NE(shown.find('c'), std::string::npos);
    EXPECT_GE(std::count(shown.begin(), shown.end(), '\xEF'), 2);
}

TEST(Gbk, FitLengthNeverSplitsATwoByteCharacter) {
    const std::string text = ToGbk("组长ab王");
    const std::pair<std::size_t, std::size_t> rows[] = {{100, 8}, {8, 8}, {7, 6}, {4, 4},
                                                        {3, 2},   {1, 0}, {0, 0}};
    for (const auto& [most, fit] : rows)
        EXPECT_EQ(GbkFitLength(text, most), fit) << most;
    // A cut-off lead byte at the end is one byte of its own.
    EXPECT_EQ(GbkFitLength(std::string("ab\xC1"), 3), 3u);
}

TEST(Text, FillAndTrim) {
    EXPECT_EQ(Fill(KOLVENA_TEXT("-->> %s 加入会话"), {ToGbk("王五")}), ToGbk("-->> 王五 加入会话"));
    EXPECT_EQ(Fill("code: %lu, host: %s, port: %d", {"7", "a", "6636"}),
              "code: 7, host: a, port: 6636");
    // Missing values and stray marks stay as written; a value is never scanned for marks.
    EXPECT_EQ(Fill("%s and %s", {"%s"}), "%s and %s");
    EXPECT_EQ(Fill("100%", {}), "100%");
    EXPECT_EQ(Fill("%x%s", {"v"}), "%xv");
    const std::pair<std::string, std::string> trims[] = {
        {"  word \t\r\n", "word"}, {" \t ", ""}, {"", ""}, {"a b", "a b"}};
    for (const auto& [text, trimmed] : trims)
        EXPECT_EQ(Trim(text), trimmed);
}

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
