#include "record_files.h"

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

FileResult OpenForReading(const std::string& path, std::ifstream& in) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return CannotOpen(path);
    in.open(path, std::ios::binary);
    if (!in)
        return CannotOpen(path);
    return {true, {}};
}

FileResult CannotCreate(const std::string& path) {
    return {false, "无法创建文件: " + path};
}

FileResult CannotWrite(const std::string& path) {
    return {false, "写入文件失败: " + path};
}

FileResult CannotOpen(const std::string& path) {
    return {false, "无法打开文件: " + path};
}

FileResult CannotRead(const std::string& path) {
    return {false, "读取文件失败: " + path};
}

} // namespace kolvena
