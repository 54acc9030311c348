#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/clock.h"

namespace kolvena {

// The file name of part `part` of a kept session: "YYYY-MM-DD_HH-MM-SS_TOPIC.prs" in local
// time, "..._TOPIC_2.prs" for the second part on. topic is UTF-8; '/' and NUL become '_'.
std::string KeptFileName(CalendarTime start, const std::string& topic, std::uint32_t part = 1);

// Whether a name in a folder is one a listing takes for a recording: "*.prs", and not one of
// the hidden temporary files a safe write leaves behind when it is cut off.
bool IsRecordingName(const std::string& name);

enum class RecordingStatus {
    Ended,      // holds the session's end, or is a full part its session went on from
    Unfinished, // valid, but its session did not end properly (a crash, a kill)
    Unreadable, // not a recording: foreign, truncated, empty, or it cannot be opened
};

// What a listing shows of a recording. A file up to 4 MiB is read in one piece and its records
// walked (nothing is decoded); a larger one costs two small reads: its header, then its last
// record head and end mark, against its size.
struct RecordingSummary {
    std::string path;
    RecordingStatus status = RecordingStatus::Unreadable;
    std::string topic; // GBK, as the header holds it
    CalendarTime start = 0;
    std::int32_t seconds = 0;
    std::uint32_t members = 0;
    std::uint32_t chatLines = 0;
    std::uint32_t notices = 0;
    std::uint32_t events = 0;
    std::uint64_t size = 0;
};

RecordingSummary ReadRecordingSummary(const std::string& path);

// The recordings in the folders (not their subfolders), newest first: by start time, an
// unreadable file by its modification time. A folder that cannot be read lists nothing; a file
// reached through two of the folders is listed once.
std::vector<RecordingSummary> ListRecordings(const std::vector<std::string>& folders);
std::vector<RecordingSummary> ListRecordings(const std::string& folder);

// "ended", "unfinished", "unreadable".
const char* StatusWord(RecordingStatus status);

} // namespace kolvena
