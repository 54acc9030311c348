#include "history_run.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "protocol/history_search.h"
#include "record/history_files.h"
#include "session/gbk.h"

namespace kolvena::peer {
namespace {

// A field of a tab-separated line: UTF-8, tabs and line breaks made spaces.
std::string Field(std::string_view gbk) {
    std::string text = FromGbk(gbk);
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::string LocalTime(CalendarTime time, const char* format) {
    const std::time_t at = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&at, &local);
    char text[64];
    return std::strftime(text, sizeof text, format, &local) ? text : "";
}

std::string NameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

int RunHistory(const PeerOptions& options) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(options.history, ignored)) {
        std::fprintf(stderr, "kolvena-peer: no folder %s\n", options.history.c_str());
        return 1;
    }
    const std::vector<RecordingSummary> listed = ListRecordings(options.history);
    if (options.role == Role::History) {
        for (const RecordingSummary& r : listed) {
            const bool read = r.status != RecordingStatus::Unreadable;
            std::printf("recording: %s\t%s\t%s\t%d\t%u\t%u\t%u\t%u\t%s\n", NameOf(r.path).c_str(),
                        Field(r.topic).c_str(),
                        read ? LocalTime(r.start, "%Y-%m-%d %H:%M:%S").c_str() : "", r.seconds,
                        r.members, r.chatLines, r.notices, r.events, StatusWord(r.status));
        }
        std::fflush(stdout);
        return 0;
    }
    const std::vector<HistoryMatch> matches = SearchRecordings(listed, ToGbk(options.findText));
    for (const HistoryMatch& m : matches)
        std::printf("match: %s\t%u\t%s\t%s\n", NameOf(m.path).c_str(), m.event,
                    LocalTime(m.time, "%H:%M:%S").c_str(), Field(m.line).c_str());
    std::printf("find: %zu matches\n", matches.size());
    std::fflush(stdout);
    return 0;
}

} // namespace kolvena::peer
