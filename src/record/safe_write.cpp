#include "safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <utility>

namespace kolvena {
namespace {

namespace fs = std::filesystem;

std::function<int(SafeWriteStep)>& Fault() {
    static std::function<int(SafeWriteStep)> fault;
    return fault;
}

// True when the step is to fail; errno then says why.
bool Injected(SafeWriteStep step) {
    if (!Fault())
        return false;
    if (const int code = Fault()(step); code != 0) {
        errno = code;
        return true;
    }
    return false;
}

std::error_code Errno() {
    return {errno, std::generic_category()};
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A device or a pipe cannot take an fsync; that is no failure of the write.
bool Sync(int fd) {
    return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

std::string TempName(const fs::path& final) {
    static std::atomic<unsigned> counter = 0;
    // One engine per thread: the history keeper's writer and the main thread both make names.
    thread_local std::mt19937 random{std::random_device{}()};
    const fs::path folder = final.has_parent_path() ? final.parent_path() : fs::path(".");
    return (folder /
            ("." + final.filename().string() + "." + std::to_string(::getpid()) + "-" +
             std::to_string(counter++) + "-" + std::to_string(random() % 1000000) + ".tmp"))
        .string();
}

} // namespace

void SetSafeWriteFault(std::function<int(SafeWriteStep)> fault) {
    Fault() = std::move(fault);
}

SafeFile::~SafeFile() {
    Discard();
}

void SafeFile::Discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    temp_.clear();
}

FileResult SafeFile::Open(const std::string& target) {
    Discard();
    target_ = target;
    final_ = target;
    inPlace_ = false;
    std::error_code ignored;
    // Renaming over a symbolic link would replace the link, not the file it names.
    if (fs::is_symlink(target, ignored)) {
        const fs::path resolved = fs::weakly_canonical(target, ignored);
        if (!ignored)
            final_ = resolved.string();
    }
    struct stat existing {};
    const bool exists = ::stat(final_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return CannotCreate(target, reason_ = std::make_error_code(std::errc::is_a_directory));
    errno = 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        inPlace_ = true;
        if (!Injected(SafeWriteStep::Create))
            fd_ = ::open(final_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return fd_ >= 0 ? FileResult::Done() : CannotCreate(target, reason_ = Errno());
    }
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        if (Injected(SafeWriteStep::Create))
            break;
        const std::string name = TempName(final_);
        // 0666 under the umask, as any new file of the user's; a replaced file keeps its mode.
        fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            temp_ = name;
        else if (errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        return CannotCreate(target, reason_ = Errno());
    if (exists)
        ::fchmod(fd_, existing.st_mode & 07777);
    return FileResult::Done();
}

FileResult SafeFile::Write(std::string_view bytes) {
    errno = 0;
    if (fd_ < 0 || Injected(SafeWriteStep::Write) || !WriteAll(fd_, bytes)) {
        reason_ = Errno();
        Discard();
        return CannotWrite(target_, reason_);
    }
    return FileResult::Done();
}

FileResult SafeFile::Commit() {
    errno = 0;
    bool failed = fd_ < 0 || Injected(SafeWriteStep::Sync) || !Sync(fd_);
    if (fd_ >= 0 && ::close(fd_) != 0 && !failed)
        failed = true;
    fd_ = -1;
    if (!failed && !inPlace_) {
        failed = Injected(SafeWriteStep::Rename) || ::rename(temp_.c_str(), final_.c_str()) != 0;
        if (!failed) {
            temp_.clear();
            // The rename itself lasts only once the folder is on disk.
            const fs::path folder =
                fs::path(final_).has_parent_path() ? fs::path(final_).parent_path() : fs::path(".");
            const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
        }
    }
    if (failed) {
        reason_ = Errno();
        Discard();
        return CannotWrite(target_, reason_);
    }
    return FileResult::Done();
}

FileResult WriteFileSafely(const std::string& path, std::string_view bytes) {
    SafeFile file;
    FileResult result = file.Open(path);
    if (result.ok)
        result = file.Write(bytes);
    if (result.ok)
        result = file.Commit();
    return result;
}

} // namespace kolvena
