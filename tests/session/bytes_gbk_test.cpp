#include <gtest/gtest.h>

#include <algorithm>

#include "session/bytes.h"
#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {
namespace {

TEST(ByteReader, ReadsLittleEndianAndStopsAtTheEnd) {
    const std::string bytes("\x01\x02\x03\x04\x05\x06\x07", 7);
    ByteReader r(bytes);
    std::uint8_t a = 0;
    std::uint16_t b = 0;
    std::uint32_t c = 0;
    ASSERT_TRUE(r.U8(a));
    ASSERT_TRUE(r.U16(b));
    ASSERT_TRUE(r.U32(c));
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x0302);
    EXPECT_EQ(c, 0x07060504u);
    EXPECT_FALSE(r.U8(a));
    EXPECT_FALSE(r.Ok());
}

TEST(ByteReader, AFailedReadTakesNothingAndPoisonsLaterReads) {
    const std::string bytes("\x05\x00\x41", 3);
    ByteReader r(bytes);
    std::string_view taken;
    std::uint16_t n = 0;
    ASSERT_TRUE(r.U16(n));
    EXPECT_FALSE(r.Take(n, taken)); // claims 5, has 1
    EXPECT_EQ(r.Position(), 2u);
    std::uint8_t one = 0;
    EXPECT_FALSE(r.U8(one)); // the byte is there, but the reader has already failed
}

TEST(ByteWriter, FieldPadsWithNulAndCutsWithoutSplittingACharacter) {
    std::string out;
    ByteWriter w(out);
    w.Field("ab", 4);
    EXPECT_EQ(out, std::string("ab\0\0", 4));

    // 19 ASCII bytes and a two-byte character would straddle byte 20: the character goes.
    out.clear();
    const std::string name = std::string(19, 'x') + ToGbk("王");
    w.Field(name, 20);
    EXPECT_EQ(out, std::string(19, 'x') + '\0');
}

TEST(Gbk, RoundTripsChineseText) {
    const std::string utf8 = "会话组长 Bob";
    const std::string gbk = ToGbk(utf8);
    EXPECT_EQ(gbk, "\xBB\xE1\xBB\xB0\xD7\xE9\xB3\xA4 Bob");
    EXPECT_EQ(FromGbk(gbk), utf8);
}

TEST(Gbk, MessageWindowHeaderIs56BytesInGbk) {
    const std::string header = ToGbk("                  *********** 会话消息窗口 ***********\r\n");
    EXPECT_EQ(header.size(), 56u);
}

TEST(Gbk, InvalidBytesBecomeReplacementCharactersNotSilence) {
    // A lone lead byte in the middle, one at the end, and a byte GBK never uses.
    const std::string bad("a\x81"
                          "b\xFF"
                          "c\xB0",
                          6);
    const std::string shown = FromGbk(bad);
    EXPECT_NE(shown.find('a'), std::string::npos);
    EXPECT_NE(shown.find('c'), std::string::npos);
    EXPECT_GE(std::count(shown.begin(), shown.end(), '\xEF'), 2);
    EXPECT_EQ(FromGbk(std::string(1, '\x81')), "\xEF\xBF\xBD");
}

TEST(Gbk, TextGbkCannotHoldBecomesQuestionMarks) {
    EXPECT_EQ(ToGbk("a\xF0\x9F\x98\x80"
                    "b"),
              "a?b"); // an emoji
    EXPECT_EQ(ToGbk("a\xC3"
                    "b"),
              "a?b"); // broken UTF-8
}

TEST(Gbk, FitLengthNeverSplitsATwoByteCharacter) {
    const std::string text = ToGbk("组长ab王");
    EXPECT_EQ(GbkFitLength(text, 100), text.size());
    EXPECT_EQ(GbkFitLength(text, 3), 2u);
    EXPECT_EQ(GbkFitLength(text, 4), 4u);
    EXPECT_EQ(GbkFitLength(text, 7), 6u);
    EXPECT_EQ(GbkFitLength(text, 0), 0u);
    // A cut-off lead byte at the end is one byte of its own.
    EXPECT_EQ(GbkFitLength(std::string("ab\xC1"), 3), 3u);
}

TEST(Gbk, ProgramTextsConvertOncePerPlace) {
    const std::string& first = KOLVENA_TEXT("大家");
    EXPECT_EQ(first, ToGbk("大家"));
    EXPECT_EQ(first.size(), 4u);
}

TEST(Text, FillPutsValuesInOrderAndKeepsGbkBytes) {
    EXPECT_EQ(Fill(KOLVENA_TEXT("-->> %s 加入会话"), {ToGbk("王五")}), ToGbk("-->> 王五 加入会话"));
    EXPECT_EQ(Fill("code: %lu, host: %s, port: %d", {"7", "a", "6636"}),
              "code: 7, host: a, port: 6636");
    // Missing values and stray marks stay as written; a value is never scanned for marks.
    EXPECT_EQ(Fill("%s and %s", {"%s"}), "%s and %s");
    EXPECT_EQ(Fill("100%", {}), "100%");
    EXPECT_EQ(Fill("%x%s", {"v"}), "%xv");
}

TEST(Text, TrimDropsBlanksAtBothEnds) {
    EXPECT_EQ(Trim("  word \t\r\n"), "word");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim("a b"), "a b");
}

} // namespace
} // namespace kolvena
