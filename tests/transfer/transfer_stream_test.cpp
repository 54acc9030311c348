#include <gtest/gtest.h>

#include "session/gbk.h"
#include "transfer/transfer_stream.h"

namespace kolvena {
namespace {

TEST(TransferStream, ChunksAndTheirSizes) {
    EXPECT_EQ(ChunkCount(0), 0u);
    EXPECT_EQ(ChunkSizeAt(0, 1), 0u);
    EXPECT_EQ(ChunkCount(1), 1u);
    EXPECT_EQ(ChunkSizeAt(1, 1), 1u);
    EXPECT_EQ(ChunkCount(10240), 1u);
    EXPECT_EQ(ChunkSizeAt(10240, 1), 10240u);
    EXPECT_EQ(ChunkCount(10241), 2u);
    EXPECT_EQ(ChunkSizeAt(10241, 1), 10240u);
    EXPECT_EQ(ChunkSizeAt(10241, 2), 1u);
    EXPECT_EQ(ChunkSizeAt(10241, 3), 0u);
    EXPECT_EQ(ChunkSizeAt(10241, 0), 0u);
    EXPECT_EQ(ChunkCount(20480), 2u);
    EXPECT_EQ(ChunkSizeAt(20480, 2), 10240u);
    EXPECT_EQ(ChunkSizeAt(25000, 3), 4520u);
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

TEST(TransferStream, Texts) {
    EXPECT_EQ(DefaultExtension("report.txt"), "txt");
    EXPECT_EQ(DefaultExtension("ab"), "ab");
    EXPECT_EQ(DefaultExtension("报告.文本档"), "文本档");
    EXPECT_EQ(ProgressText(100.0 / 3, 1), "传输进度   % 33 1");
    EXPECT_EQ(ProgressText(200.0 / 3, 2), "传输进度   % 67 2");
    EXPECT_EQ(ProgressCaption(100.0), "传输文件进度   % 100");
    EXPECT_EQ(FileLine("a.txt", 1234), "a.txt      文件大小:1234字节");
}

} // namespace
} // namespace kolvena
