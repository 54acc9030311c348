#include "recording_file.h"

#include <fstream>
#include <sstream>

#include "safe_write.h"
#include "session/buddy.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

constexpr char RECORDING_EXTENSION[] = "prs";
constexpr char RECORDING_FILTER[] = "Kolvena会话记录 (*.prs)|*.prs|All files (*.*) | *.* ||";
constexpr char RECORDING_OPEN_NAME[] = "*.prs";

} // namespace

FileResult SaveRecording(EventLog& log, const Session& session, const std::string& path) {
    SafeFile file;
    if (FileResult opened = file.Open(path); !opened.ok)
        return opened;
    log.header.topic = std::string(GbkFit(session.topic, TOPIC_SIZE));
    log.header.memberCount = static_cast<std::uint32_t>(session.roster.size());
    log.header.notices = session.counters.messageTotal;
    log.header.chatLines = session.counters.chatLineTotal;
    std::ostringstream bytes;
    if (!log.WriteLog(bytes))
        return CannotWrite(path, {});
    if (FileResult written = file.Write(bytes.view()); !written.ok)
        return written;
    return file.Commit();
}

FileResult LoadRecording(EventLog& log, const std::string& path) {
    std::ifstream in;
    if (FileResult opened = OpenForReading(path, in); !opened.ok)
        return opened;
    // ReadLog tells a malformed file itself, the same box in every front end.
    if (!log.ReadLog(in))
        return FileResult::AlreadyShown(RECORDING_FORMAT_ERROR);
    return FileResult::Done();
}

FileDialogRequest RecordingSaveRequest(const Session& session) {
    return {RECORDING_EXTENSION, FromGbk(DefaultFileName(session)), RECORDING_FILTER};
}

FileDialogRequest RecordingOpenRequest() {
    return {RECORDING_EXTENSION, RECORDING_OPEN_NAME, RECORDING_FILTER};
}

} // namespace kolvena
