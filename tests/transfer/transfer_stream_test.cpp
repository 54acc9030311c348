#include <gtest/gtest.h>

#include "session/gbk.h"
#include "transfer/transfer_stream.h"

namespace kolvena {
namespace {

TEST(TransferStream, ChunksAndTheirSizes) {
    const struct {
        std::uint32_t size, chunks, chunk, chunkSize;
    } cases[] = {{0, 0, 1, 0},         {1, 1, 1, 1},         {10240, 1, 1, 10240},
                 {10241, 2, 1, 10240}, {10241, 2, 2, 1},     {10241, 2, 3, 0},
                 {10241, 2, 0, 0},     {20480, 2, 2, 10240}, {25000, 3, 3, 4520}};
    for (const auto& c : cases) {
        EXPECT_EQ(ChunkCount(c.size), c.chunks) << c.size;
        EXPECT_EQ(ChunkSizeAt(c.size, c.chunk), c.chunkSize) << c.size << " chunk " << c.chunk;
    }
}

TEST(TransferStream, TheChunkCountLimitsTheSize) {
    EXPECT_TRUE(FitsTransfer(671078400));
    EXPECT_EQ(ChunkCount(671078400), MAX_CHUNKS);
    EXPECT_FALSE(FitsTransfer(671078401));
    EXPECT_EQ(ChunkCount(671078401), MAX_CHUNKS + 1);
    EXPECT_FALSE(FitsTransfer(0xFFFFFFFFu));
}

TEST(TransferStream, SafeFileNameKeepsOnlyTheLastPart) {
    EXPECT_EQ(SafeFileName("../../etc/passwd"), "passwd");
    EXPECT_EQ(SafeFileName("a\\b\\c.txt"), "c.txt");
    EXPECT_EQ(SafeFileName("/abs/x"), "x");
    EXPECT_EQ(SafeFileName("plain.txt"), "plain.txt");
    for (const char* empty : {"", ".", "..", "dir/", "a\\..", "../"})
        EXPECT_EQ(SafeFileName(empty), "file") << empty;
    EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
}

TEST(TransferStream, SafeFileNameReadsGbkCharacters) {
    // 嘰 is 87 5C and 乗 is 81 5C in GBK: their second byte is no separator.
    const std::string ji = ToGbk("嘰.txt");
    ASSERT_EQ(ji.substr(0, 2), "\x87\x5C");
    EXPECT_EQ(SafeFileName(ji), ji);
    EXPECT_EQ(SafeFileName(ToGbk("目录\\乗嘰表.txt")), ToGbk("乗嘰表.txt"));
    EXPECT_EQ(SafeFileName(ToGbk("表.txt")), ToGbk("表.txt"));
    // A lead byte before a real separator does not swallow it.
    EXPECT_EQ(SafeFileName("\x81/x"), "x");
}

// The save dialog's default extension: the last three characters, whole ones in any script.
TEST(TransferStream, DefaultExtensionIsTheLastThreeCharacters) {
    EXPECT_EQ(DefaultExtension("report.txt"), "txt");
    EXPECT_EQ(DefaultExtension("ab"), "ab");
    EXPECT_EQ(DefaultExtension("报告.文本档"), "文本档");
}

} // namespace
} // namespace kolvena
