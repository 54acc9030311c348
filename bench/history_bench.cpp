// Kept-history benchmark: a folder of recordings is listed (each file's summary, as the history
// window and `kolvena-peer history` read it) and searched (every chat line and notice of every
// recording, as the window's search field and `kolvena-peer find` do).
//
//   history_bench [--list 1000] [--list-events 1000] [--search 200] [--search-events 10000]
//                 [--rounds 5]
//
// Prints the median and best time of each step over the rounds, warm (the files were just
// written, so they are in the page cache), in milliseconds, and the counts found.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "protocol/history_search.h"
#include "protocol/packets.h"
#include "record/event_log.h"
#include "record/history_files.h"
#include "record/safe_write.h"
#include "session/gbk.h"

using namespace kolvena;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr CalendarTime START_TIME = 1700000000;
constexpr std::size_t MEMBERS = 20;

// A leader and MEMBERS members, then chat lines (every 50th a notice) with a word that one line
// in 1,000 holds, and the end.
std::string RecordingBytes(std::size_t events, std::size_t serial) {
    std::vector<SessionEvent> log;
    log.reserve(events);
    log.push_back(
        {EventKind::EvSessionCreated, 0, BuildMemberJoined("leader", "192.168.0.1").substr(1)});
    for (std::size_t m = 0; m < MEMBERS && log.size() + 1 < events; ++m)
        log.push_back({EventKind::EvMemberJoined, 1, BuildLogin("member" + std::to_string(m))});
    while (log.size() + 1 < events) {
        const std::size_t n = log.size();
        const std::uint16_t sender = static_cast<std::uint16_t>(1 + n % (MEMBERS + 1));
        std::string text = ToGbk("第" + std::to_string(n) + "句: 今天的会议讨论进度和计划");
        if (n % 1000 == 7)
            text += " Kolvena";
        if (n % 50 == 0)
            log.push_back(
                {EventKind::EvNotice, 1, BuildNotice(PacketType::Notice, {sender, text})});
        else
            log.push_back({EventKind::EvChatLine, 1,
                           BuildChat(PacketType::Say, {"", 0, sender, 0, 1, text})});
    }
    log.push_back({EventKind::EvSessionEnded, 1, ""});
    RecordingHeader header;
    header.version = RECORDING_VERSION;
    header.eventCount = static_cast<std::uint16_t>(log.size());
    header.topic = ToGbk("周会") + std::to_string(serial);
    header.memberCount = MEMBERS + 1;
    header.chatLines = static_cast<std::uint32_t>(log.size());
    header.startTime = static_cast<std::uint32_t>(START_TIME + serial * 3600);
    header.savedTime = static_cast<std::uint32_t>(header.startTime + log.size());
    return EncodeRecording(header, log);
}

std::string Fill(const std::filesystem::path& folder, std::size_t count, std::size_t events) {
    std::filesystem::create_directories(folder);
    const std::string bytes = RecordingBytes(events, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = KeptFileName(START_TIME + static_cast<CalendarTime>(i) * 3600,
                                              "周会" + std::to_string(i));
        WriteFileSafely((folder / name).string(), RecordingBytes(events, i));
    }
    return std::to_string(bytes.size());
}

template <typename Step> void Measure(const char* what, int rounds, Step step) {
    std::vector<double> times;
    std::size_t found = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = SteadyClock::now();
        found = step();
        times.push_back(
            std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-36s median %8.1f ms  best %8.1f ms  (%zu)\n", what, times[times.size() / 2],
                times.front(), found);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t list = 1000, listEvents = 1000, search = 200, searchEvents = 10000;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const long value = std::atol(argv[i + 1]);
        if (value <= 0)
            continue;
        if (flag == "--list")
            list = static_cast<std::size_t>(value);
        else if (flag == "--list-events")
            listEvents = std::min<std::size_t>(static_cast<std::size_t>(value), MAX_EVENTS);
        else if (flag == "--search")
            search = static_cast<std::size_t>(value);
        else if (flag == "--search-events")
            searchEvents = std::min<std::size_t>(static_cast<std::size_t>(value), MAX_EVENTS);
        else if (flag == "--rounds")
            rounds = static_cast<int>(value);
    }
    const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                       ("kolvena-history-bench-" + std::to_string(::getpid()));
    const std::string listSize = Fill(root / "list", list, listEvents);
    const std::string searchSize = Fill(root / "search", search, searchEvents);
    std::printf("history benchmark: %zu recordings of %zu events (%s bytes each) listed, "
                "%zu of %zu events (%s bytes each) searched\n",
                list, listEvents, listSize.c_str(), search, searchEvents, searchSize.c_str());
    Measure("list (summaries, newest first)", rounds,
            [&] { return ListRecordings((root / "list").string()).size(); });
    Measure("list the searched folder", rounds,
            [&] { return ListRecordings((root / "search").string()).size(); });
    Measure("search \"kolvena\" (matches)", rounds, [&] {
        return SearchRecordings(ListRecordings((root / "search").string()), "kolvena").size();
    });
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}
