#include "record_files.h"

#include <cerrno>

#include <algorithm>
#include <filesystem>

#include "session/time_text.h"

namespace kolvena {

bool HasSessionRecord(const Session& session) {
    return session.messageText.size() > MessageWindowHeader().size();
}

std::string DefaultFileName(const Session& session) {
    // '/' and NUL are below the range of GBK trail bytes, so each such byte is a character of
    // its own and can be replaced without harming its neighbours.
    std::string name = session.topic;
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    return name + "(" + FormatFileDate(session.createdAt) + ")";
}

namespace {

// Why a file operation failed, in the user's words.
std::string Reason(std::error_code reason) {
    if (!reason)
        return {};
    const std::error_condition condition = reason.default_error_condition();
    if (condition.category() == std::generic_category()) {
        switch (condition.value()) {
        case ENOENT:
            return "文件或文件夹不存在";
        case EACCES:
        case EPERM:
            return "没有访问权限";
        case EISDIR:
            return "这是一个文件夹";
        case ENOSPC:
            return "磁盘空间不足";
        case EROFS:
            return "磁盘只读";
        default:
            break;
        }
    }
    return reason.message();
}

FileResult Failure(const char* what, const std::string& path, std::error_code reason) {
    std::string text = what + path;
    if (const std::string told = Reason(reason); !told.empty())
        text += " (" + told + ")";
    return FileResult::Failed(std::move(text));
}

} // namespace

std::error_code LastSystemError() {
    return {errno, std::generic_category()};
}

FileResult OpenForReading(const std::string& path, std::ifstream& in) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return CannotOpen(path, std::make_error_code(std::errc::is_a_directory));
    // Cleared first, so that a failure the system did not report names no stale reason.
    errno = 0;
    in.open(path, std::ios::binary);
    if (!in)
        return CannotOpen(path, LastSystemError());
    return FileResult::Done();
}

FileResult ReadFileSize(const std::string& path, std::uint64_t& size) {
    std::error_code reason;
    const std::uintmax_t found = std::filesystem::file_size(path, reason);
    if (reason)
        return CannotRead(path, reason);
    size = found;
    return FileResult::Done();
}

FileResult CannotCreate(const std::string& path, std::error_code reason) {
    return Failure("无法创建文件: ", path, reason);
}

FileResult CannotWrite(const std::string& path, std::error_code reason) {
    return Failure("写入文件失败: ", path, reason);
}

FileResult CannotOpen(const std::string& path, std::error_code reason) {
    return Failure("无法打开文件: ", path, reason);
}

FileResult CannotRead(const std::string& path, std::error_code reason) {
    return Failure("读取文件失败: ", path, reason);
}

} // namespace kolvena
