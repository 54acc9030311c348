#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "record/history_files.h"
#include "session/clock.h"

namespace kolvena {

// One chat line or notice of a recording that holds the searched text.
struct HistoryMatch {
    std::string path;
    // The event's number, counted from 1: seeking the replay there shows the session up to and
    // including the line.
    std::uint32_t event = 0;
    CalendarTime time = 0; // the recording's start plus the delays up to the event
    std::string line;      // GBK: "NAME: TEXT", the name the speaker had then
};

// Whether text holds needle, both GBK (GB18030): compared character by character from every
// character start, Latin, Greek and Cyrillic letters (full width too) without regard to case.
// A byte inside a two- or four-byte character never matches on its own.
bool ContainsIgnoringCase(std::string_view text, std::string_view needle);

// The chat lines and notices of the recording at path that hold needle (GBK), in event order.
// A refused notice went out to nobody and is not searched. A file that does not read whole with
// the strict reader, or is larger than any recording can be, yields nothing.
std::vector<HistoryMatch> SearchRecording(const std::string& path, std::string_view needle);

// SearchRecording over each readable recording of a listing, in the listing's order.
std::vector<HistoryMatch> SearchRecordings(const std::vector<RecordingSummary>& recordings,
                                           std::string_view needle);

} // namespace kolvena
