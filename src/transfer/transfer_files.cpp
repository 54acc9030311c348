#include "transfer_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>

#include "record/safe_write.h"

namespace kolvena {
namespace {

constexpr std::size_t COPY_PIECE = 64 * 1024;

} // namespace

FileResult CreateReceivedFile(std::string& path, UniqueFd& file) {
    static std::atomic<unsigned> counter = 0;
    std::error_code ignored;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ignored);
    if (ignored)
        folder = "/tmp";
    std::random_device random;
    std::error_code reason;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = (folder / ("kolvena-" + std::to_string(::getpid()) + "-" +
                          std::to_string(counter++) + "-" + std::to_string(random()) + ".part"))
                   .string();
        // 0666 under the umask: once moved into place it is an ordinary file of the user's.
        file = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.Valid())
            return FileResult::Done();
        reason = LastSystemError();
        if (reason != std::errc::file_exists)
            break;
    }
    return CannotCreate(path, reason);
}

FileResult MoveInto(const std::string& from, const std::string& to) {
    std::error_code reason;
    if (std::filesystem::is_directory(to, reason))
        return CannotCreate(to, std::make_error_code(std::errc::is_a_directory));
    // Beside the target the file is renamed over it whole, once it is on disk; across file
    // systems it is copied into a safe write, so that a copy cut short replaces nothing.
    const UniqueFd received(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!received.Valid())
        return CannotCreate(to, LastSystemError());
    ::fsync(received.Get());
    reason.clear();
    std::filesystem::rename(from, to, reason);
    if (!reason) {
        const std::filesystem::path folder = std::filesystem::path(to).parent_path();
        const UniqueFd dir(
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Valid())
            ::fsync(dir.Get());
        return FileResult::Done();
    }
    if (reason != std::errc::cross_device_link)
        return CannotCreate(to, reason);
    SafeFile file;
    if (!file.Open(to).ok)
        return CannotCreate(to, file.Reason());
    std::string piece(COPY_PIECE, '\0');
    for (;;) {
        const ssize_t got = ::read(received.Get(), piece.data(), piece.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return CannotCreate(to, LastSystemError());
        if (got == 0)
            break;
        if (!file.Write(std::string_view(piece.data(), static_cast<std::size_t>(got))).ok)
            return CannotCreate(to, file.Reason());
    }
    if (!file.Commit().ok)
        return CannotCreate(to, file.Reason());
    std::error_code ignored;
    std::filesystem::remove(from, ignored);
    return FileResult::Done();
}

} // namespace kolvena
