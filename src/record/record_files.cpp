#include "record_files.h"

#include <cerrno>
#include <cstring>

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

// Why a file operation failed, in the user's words; errno as the failing call left it.
std::string Reason(int error) {
    switch (error) {
    case 0:
        return {};
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
        return std::strerror(error);
    }
}

FileResult Failure(const char* what, const std::string& path, int error) {
    std::string text = what + path;
    if (const std::string reason = Reason(error); !reason.empty())
        text += " (" + reason + ")";
    return {false, text};
}

} // namespace

FileResult OpenForReading(const std::string& path, std::ifstream& in) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return Failure("无法打开文件: ", path, EISDIR);
    errno = 0;
    in.open(path, std::ios::binary);
    if (!in)
        return CannotOpen(path);
    return {true, {}};
}

FileResult CannotCreate(const std::string& path) {
    return Failure("无法创建文件: ", path, errno);
}

FileResult CannotWrite(const std::string& path) {
    return Failure("写入文件失败: ", path, errno);
}

FileResult CannotOpen(const std::string& path) {
    return Failure("无法打开文件: ", path, errno);
}

FileResult CannotRead(const std::string& path) {
    return Failure("读取文件失败: ", path, errno);
}

} // namespace kolvena
