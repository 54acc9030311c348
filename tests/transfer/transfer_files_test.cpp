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
struct Folder {
    explicit Folder(const fs::path& parent) {
        std::string name = (parent / "kolvena-move-XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr)
            path = name;
    }
    ~Folder() {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool Made() const { return !path.empty(); }
    std::string File(const std::string& name) const { return (path / name).string(); }
    fs::path path;
};

dev_t DeviceOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// A folder on another file system than /dev/shm, where the received file waits: the temporary
// folder, the working folder (the build's) or /var/tmp, whichever is on the disk.
fs::path DiskFolder() {
    for (const fs::path& candidate :
         {fs::temp_directory_path(), fs::current_path(), fs::path("/var/tmp")})
        if (DeviceOf(candidate.string()) != DeviceOf("/dev/shm"))
            return candidate;
    return {};
}

// The received file waits on a RAM file system; the user saves it on the disk.
class MoveIntoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(spool.Made() && disk.Made()) << "no folder on a file system of its own";
        ASSERT_NE(DeviceOf(spool.File(".")), DeviceOf(disk.File(".")));
        fs::create_directory(disk.File("folder"));
        WriteFileBytes(disk.File("folder/kept"), "kept");
    }

    Folder spool{"/dev/shm"};
    Folder disk{DiskFolder()};
    const std::string bytes = std::string(70000, 'k') + "end";
};

// Writes past the limit fail, as on a full disk, until the guard goes.
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

// Moves across file systems and beside; refuses a folder or a missing one in the way, and a
// copy cut short as on a full disk, keeping the received file and leaving nothing half written.
TEST_F(MoveIntoTest, MovesOrKeepsTheReceivedFile) {
    const struct {
        const char* name;
        bool sameDevice; // the received file waits beside the target
        const char* to;
        const char* reason; // nullptr: moved; "": any reason
        rlim_t limit = RLIM_INFINITY;
    } cases[] = {
        {"across", false, "saved.bin", nullptr},
        {"beside", true, "saved.bin", nullptr},
        {"folder across", false, "folder", "这是一个文件夹"},
        {"folder beside", true, "folder", "这是一个文件夹"},
        {"missing folder", false, "none/saved.bin", "文件或文件夹不存在"},
        {"cut short", false, "saved.bin", "", 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from = c.sameDevice ? disk.File("received") : spool.File("received");
        const std::string to = disk.File(c.to);
        WriteFileBytes(from, bytes);
        FileResult moved;
        {
            const FileSizeLimit limit(c.limit);
            moved = MoveInto(from, to);
        }
        EXPECT_EQ(moved.ok, c.reason == nullptr) << moved.error;
        EXPECT_EQ(ReadFileBytes(c.reason ? from : to), bytes);
        EXPECT_NE(fs::exists(from), c.reason == nullptr);
        if (c.reason) {
            EXPECT_EQ(moved.error.rfind("无法创建文件: " + to + " (" + c.reason, 0), 0u)
                << moved.error;
        }
        EXPECT_EQ(fs::exists(disk.File("saved.bin")), c.reason == nullptr && c.to[0] == 's');
        EXPECT_EQ(ReadFileBytes(disk.File("folder/kept")), "kept");
        fs::remove(from);
        fs::remove(disk.File("saved.bin"));
    }
}

} // namespace
} // namespace kolvena
