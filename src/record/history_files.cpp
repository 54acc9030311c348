#include "history_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string_view>

#include "event_log.h"

namespace kolvena {
namespace {

constexpr std::string_view EXTENSION = ".prs";
constexpr std::string_view TEMP_EXTENSION = ".tmp";

bool ReadAt(int fd, char* into, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// A file up to this size is read whole and walked record by record; a larger one is judged by
// its header, its size and its last bytes, so that a listing never reads a large file whole.
constexpr std::uint64_t WALKED_SIZE = 4 * 1024 * 1024;
// No packet we record is larger than a Welcome.
constexpr std::uint64_t MAX_EVENT_SIZE = RECORD_HEAD_SIZE + (1u << 20);

std::uint32_t LoadU32(const char* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[i]);
    return value;
}

// Whether the records fill the bytes exactly up to the end mark; kind is the last one's.
bool Walk(std::string_view bytes, std::uint32_t count, EventKind& kind) {
    std::size_t at = RecordingHeader::SIZE;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < RECORD_HEAD_SIZE)
            return false;
        kind = static_cast<EventKind>(bytes[at]);
        const std::uint32_t length = LoadU32(bytes.data() + at + 5);
        at += RECORD_HEAD_SIZE;
        if (bytes.size() - at < length)
            return false;
        at += length;
    }
    return bytes.substr(at) == RECORDING_END_MARK;
}

void Summarise(int fd, RecordingSummary& summary) {
    char head[RecordingHeader::SIZE];
    RecordingHeader header;
    const std::uint64_t smallest = RecordingHeader::SIZE + RECORDING_END_MARK.size();
    if (summary.size < smallest || !ReadAt(fd, head, sizeof head, 0) ||
        !header.Decode(std::string_view(head, sizeof head)) || header.version == 0)
        return;
    // Every event takes at least its record head, and none is larger than a Welcome.
    const std::uint64_t count = header.eventCount;
    if (summary.size < smallest + count * RECORD_HEAD_SIZE ||
        summary.size > smallest + count * MAX_EVENT_SIZE)
        return;
    EventKind last = EventKind::EvSessionCreated;
    if (summary.size <= WALKED_SIZE) {
        std::string bytes(summary.size, '\0');
        if (!ReadAt(fd, bytes.data(), bytes.size(), 0) || !Walk(bytes, header.eventCount, last))
            return;
    } else {
        char tail[RECORD_HEAD_SIZE + RECORDING_END_MARK.size()];
        if (!ReadAt(fd, tail, sizeof tail, summary.size - sizeof tail) ||
            std::string_view(tail + RECORD_HEAD_SIZE, RECORDING_END_MARK.size()) !=
                RECORDING_END_MARK)
            return;
        // The session's last event carries no data.
        if (LoadU32(tail + 5) == 0)
            last = static_cast<EventKind>(tail[0]);
    }
    const bool ended = header.eventCount > 0 && last == EventKind::EvSessionEnded;
    summary.status = ended || header.eventCount == MAX_EVENTS ? RecordingStatus::Ended
                                                              : RecordingStatus::Unfinished;
    summary.topic = header.topic;
    summary.start = header.startTime;
    summary.seconds = header.savedTime > header.startTime
                          ? static_cast<std::int32_t>(std::min<std::uint32_t>(
                                header.savedTime - header.startTime, 0x7FFFFFFF))
                          : 0;
    summary.members = header.memberCount;
    summary.chatLines = header.chatLines;
    summary.notices = header.notices;
    summary.events = header.eventCount;
}

} // namespace

std::string KeptFileName(CalendarTime start, const std::string& topic, std::uint32_t part) {
    const std::time_t time = static_cast<std::time_t>(start);
    std::tm local{};
    localtime_r(&time, &local);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d_%02d-%02d-%02d_", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string name = stamp;
    for (const char c : topic)
        name += c == '/' || c == '\0' ? '_' : c;
    if (part > 1)
        name += "_" + std::to_string(part);
    return name + std::string(EXTENSION);
}

bool IsRecordingName(const std::string& name) {
    return name.size() > EXTENSION.size() && name.front() != '.' &&
           name.compare(name.size() - EXTENSION.size(), EXTENSION.size(), EXTENSION) == 0 &&
           !name.ends_with(TEMP_EXTENSION);
}

RecordingSummary ReadRecordingSummary(const std::string& path) {
    RecordingSummary summary;
    summary.path = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return summary;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        summary.size = static_cast<std::uint64_t>(info.st_size);
        Summarise(fd, summary);
    }
    ::close(fd);
    return summary;
}

std::vector<RecordingSummary> ListRecordings(const std::vector<std::string>& folders) {
    namespace fs = std::filesystem;
    std::vector<std::pair<RecordingSummary, CalendarTime>> found;
    std::set<fs::path> seen;
    for (const std::string& folder : folders) {
        std::error_code reason;
        for (fs::directory_iterator it(folder, reason), end; !reason && it != end;
             it.increment(reason)) {
            std::error_code ignored;
            if (!IsRecordingName(it->path().filename().string()) ||
                !seen.insert(fs::weakly_canonical(it->path(), ignored)).second)
                continue;
            RecordingSummary summary = ReadRecordingSummary(it->path().string());
            CalendarTime when = summary.start;
            if (summary.status == RecordingStatus::Unreadable) {
                struct stat info {};
                when = ::stat(summary.path.c_str(), &info) == 0 ? info.st_mtime : 0;
            }
            found.emplace_back(std::move(summary), when);
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first.path > b.first.path;
    });
    std::vector<RecordingSummary> list;
    list.reserve(found.size());
    for (auto& entry : found)
        list.push_back(std::move(entry.first));
    return list;
}

std::vector<RecordingSummary> ListRecordings(const std::string& folder) {
    return ListRecordings(std::vector<std::string>{folder});
}

const char* StatusWord(RecordingStatus status) {
    switch (status) {
    case RecordingStatus::Ended:
        return "ended";
    case RecordingStatus::Unfinished:
        return "unfinished";
    case RecordingStatus::Unreadable:
        break;
    }
    return "unreadable";
}

} // namespace kolvena
