#include <gtest/gtest.h>

#include <csignal>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "record/record_test_util.h"
#include "transfer/transfer_files.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A fresh folder under parent, removed with everything in it afterwards.
class Folder {
public:
    explicit Folder(const fs::path& parent) {
        std::string name = (parent / "kolvena-move-XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr)
            path_ = name;
    }
    ~Folder() {
        std::error_code ignored;
        if (!path_.empty())
            fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool Made() const { return !path_.empty(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

dev_t DeviceOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// The received file waits on a RAM file system; the user saves it on the disk.
class MoveIntoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(spool.Made() && disk.Made());
        if (DeviceOf(spool.File(".")) == DeviceOf(disk.File(".")))
            GTEST_SKIP() << "/dev/shm and the temporary folder share one file system";
        fs::create_directory(disk.File("folder"));
        WriteFileBytes(disk.File("folder/kept"), "kept");
    }

    Folder spool{"/dev/shm"};
    Folder disk{fs::temp_directory_path()};
    const std::string bytes = std::string(70000, 'k') + "end";
};

TEST_F(MoveIntoTest, MovesAcrossFileSystemsAndRefusesWhatCannotTakeTheFile) {
    struct Case {
        const char* name;
        bool sameDevice; // the received file waits beside the target
        const char* to;
        const char* reason; // nullptr: moved
    };
    for (const Case& c : {
             Case{"across", false, "saved.bin", nullptr},
             Case{"beside", true, "saved.bin", nullptr},
             Case{"folder across", false, "folder", "这是一个文件夹"},
             Case{"folder beside", true, "folder", "这是一个文件夹"},
             Case{"missing folder", false, "none/saved.bin", "文件或文件夹不存在"},
         }) {
        SCOPED_TRACE(c.name);
        const std::string from = c.sameDevice ? disk.File("received") : spool.File("received");
        const std::string to = disk.File(c.to);
        WriteFileBytes(from, bytes);
        const FileResult moved = MoveInto(from, to);
        if (c.reason == nullptr) {
            EXPECT_TRUE(moved.ok) << moved.error;
            EXPECT_EQ(ReadFileBytes(to), bytes);
            EXPECT_FALSE(fs::exists(from));
            fs::remove(to);
        } else {
            EXPECT_FALSE(moved.ok);
            EXPECT_EQ(moved.error, "无法创建文件: " + to + " (" + c.reason + ")");
            EXPECT_EQ(ReadFileBytes(from), bytes);
            EXPECT_EQ(ReadFileBytes(disk.File("folder/kept")), "kept");
            fs::remove(from);
        }
    }
}

// Writes past a few kilobytes fail, as on a full disk, until the guard goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

TEST_F(MoveIntoTest, ACopyCutShortLeavesNothingHalfWritten) {
    const std::string from = spool.File("received");
    const std::string to = disk.File("saved.bin");
    WriteFileBytes(from, bytes);
    FileResult moved;
    {
        const FileSizeLimit limit(4096);
        moved = MoveInto(from, to);
    }
    EXPECT_FALSE(moved.ok);
    EXPECT_EQ(moved.error.rfind("无法创建文件: " + to + " (", 0), 0u) << moved.error;
    EXPECT_FALSE(fs::exists(to));
    EXPECT_EQ(ReadFileBytes(from), bytes);
}

} // namespace
} // namespace kolvena
