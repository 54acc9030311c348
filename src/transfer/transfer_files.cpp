#include "transfer_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>

namespace kolvena {

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
    std::filesystem::rename(from, to, reason);
    if (!reason)
        return FileResult::Done();
    if (reason == std::errc::cross_device_link) {
        reason.clear();
        if (std::filesystem::is_directory(to, reason))
            reason = std::make_error_code(std::errc::is_a_directory);
        else
            std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                       reason);
        std::error_code ignored;
        if (!reason) {
            std::filesystem::remove(from, ignored);
            return FileResult::Done();
        }
        if (!std::filesystem::is_directory(to, ignored))
            std::filesystem::remove(to, ignored);
    }
    return CannotCreate(to, reason);
}

} // namespace kolvena
