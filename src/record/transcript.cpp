#include "transcript.h"

#include <cerrno>
#include <fstream>
#include <string_view>

#include "safe_write.h"
#include "session/gbk.h"
#include "session/time_text.h"

namespace kolvena {
namespace {

constexpr char TRANSCRIPT_EXTENSION[] = "txt";
constexpr char TRANSCRIPT_FILTER[] = "Text files (*.txt)|*.txt|All files (*.*) | *.* ||";
constexpr char TEXT_OPEN_NAME[] = "*.txt";
constexpr std::size_t READ_PIECE = 64 * 1024;
// A text record becomes one line of the chat area; a larger file would stall the window.
constexpr std::size_t MAX_TEXT_RECORD = 16 * 1024 * 1024;

} // namespace

std::string BuildTranscript(const Session& session, CalendarTime now) {
    const CalendarTime end = session.inSession ? now : session.endedAt;
    std::string text = KOLVENA_TEXT("--欢迎使用 网络会话(Kolvena)--\r\n\r\n");
    text += KOLVENA_TEXT("//会话主题: ");
    text += session.topic;
    text += " \r\n";
    text += KOLVENA_TEXT("//会话时间: ");
    text += FormatClockAndDate(session.createdAt);
    text += " - ";
    text += FormatClockAndDate(end);
    text += "\r\n";
    text += KOLVENA_TEXT("//历史人数: ");
    text += std::to_string(session.roster.size());
    text += " \r\n";
    text += KOLVENA_TEXT("\r\n\r\n// 消  息 \r\n\r\n");
    text += session.messageText;
    text += KOLVENA_TEXT("\r\n\r\n// 公聊区 \r\n\r\n");
    text += session.RenderLines();
    return text;
}

FileResult WriteTranscript(const Session& session, CalendarTime now, const std::string& path) {
    return WriteFileSafely(path, BuildTranscript(session, now));
}

FileResult ReadTextRecord(const std::string& path, std::string& text) {
    std::ifstream in;
    if (FileResult opened = OpenForReading(path, in); !opened.ok)
        return opened;
    std::string bytes;
    std::string piece(READ_PIECE, '\0');
    errno = 0;
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        bytes.append(piece.data(), static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > MAX_TEXT_RECORD)
            return FileResult::Failed("文件太大, 无法显示: " + path);
    }
    if (in.bad())
        return CannotRead(path, LastSystemError());
    text = bytes.substr(0, bytes.find('\0'));
    return FileResult::Done();
}

FileDialogRequest TranscriptSaveRequest(const Session& session) {
    return {TRANSCRIPT_EXTENSION, FromGbk(DefaultFileName(session)), TRANSCRIPT_FILTER};
}

FileDialogRequest TextRecordOpenRequest() {
    return {TRANSCRIPT_EXTENSION, TEXT_OPEN_NAME, TRANSCRIPT_FILTER};
}

} // namespace kolvena
