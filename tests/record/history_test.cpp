#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "record/safe_write.h"
#include "record_test_util.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Step = SafeWriteStep;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Fails one step with errno `code` while it lives.
struct FaultAt {
    FaultAt(Step step, int code) {
        SetSafeWriteFault([=](Step at) { return at == step ? code : 0; });
    }
    ~FaultAt() { SetSafeWriteFault(nullptr); }
};

// A failed write at any step, or on a file system that fills, leaves the old file byte for byte
// and nothing beside it, and names the file and the reason.
TEST(SafeWrite, FailureAtAnyStepKeepsTheOldFileAndItsFolderClean) {
    test::TempDir dir;
    const std::string path = dir.File("r.prs"), old = "old\0bytes"s;
    test::WriteFileBytes(path, old);
    ::chmod(path.c_str(), 0640);
    for (const Step step : {Step::Create, Step::Write, Step::Sync, Step::Rename}) {
        FaultAt fault(step, ENOSPC);
        const FileResult result = WriteFileSafely(path, "new");
        EXPECT_EQ(result.error, (step == Step::Create ? "无法创建文件: " : "写入文件失败: ") +
                                    path + " (磁盘空间不足)");
        EXPECT_EQ(test::ReadFileBytes(path), old);
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"r.prs"});
    }
    ASSERT_TRUE(WriteFileSafely(path, "new").ok);
    EXPECT_EQ(test::ReadFileBytes(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640)); // the replaced file's mode
    // Through a link the file it names is replaced; a device is written in place, not replaced.
    fs::create_symlink(path, dir.File("link.prs"));
    ASSERT_TRUE(WriteFileSafely(dir.File("link.prs"), "linked").ok);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.prs")));
    EXPECT_EQ(test::ReadFileBytes(path), "linked");
    EXPECT_TRUE(WriteFileSafely("/dev/null", "x").ok);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(WriteFileSafely(dir.Path(), "x").error,
              "无法创建文件: " + dir.Path() + " (这是一个文件夹)");

    // A real full file system, where the test may mount one.
    const std::string small = dir.File("small");
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string kept = small + "/k.txt";
    ASSERT_TRUE(WriteFileSafely(kept, std::string(20000, 'k')).ok);
    EXPECT_NE(WriteFileSafely(kept, std::string(60000, 'n')).error.find("磁盘空间不足"),
              std::string::npos);
    EXPECT_EQ(test::ReadFileBytes(kept), std::string(20000, 'k'));
    EXPECT_EQ(Names(small), std::vector<std::string>{"k.txt"});
    ::umount(small.c_str());
}

} // namespace
} // namespace kolvena
