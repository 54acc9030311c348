#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "session/buddy.h"
#include "session/clock.h"
#include "session/prompter.h"

namespace kolvena {

// What an event is. In a file the kind is one byte, the letters 'e' to 'n'; a file may hold any
// other byte, which is kept as read and means nothing to the replay.
enum class EventKind : std::uint8_t {
    EvSessionCreated = 101,
    EvSessionJoined = 102,
    EvChatLine = 103,
    EvNotice = 104,
    EvMemberJoined = 105,
    EvNameChanged = 106,
    EvAsleep = 107,
    EvAwake = 108,
    EvMemberLeft = 109,
    EvSessionEnded = 110,
};

// One recorded packet with the whole seconds since the event before it.
struct SessionEvent {
    EventKind kind = EventKind::EvSessionEnded;
    std::int32_t delay = 0;
    std::string data; // the packet bytes, type byte first; empty for EvSessionEnded

    bool operator==(const SessionEvent&) const = default;
};

// The version a leader's recording carries.
inline constexpr std::uint16_t RECORDING_VERSION = 5;
// The file counts its events in 16 bits.
inline constexpr std::size_t MAX_EVENTS = 65535;
// What closes a recording file, after its last event.
inline constexpr std::string_view RECORDING_END_MARK{"[END]\0", 6};
// Each record opens with its kind byte, its delay and its data length.
inline constexpr std::size_t RECORD_HEAD_SIZE = 9;
// What ReadLog tells the user of a malformed recording.
inline constexpr char RECORDING_FORMAT_ERROR[] = "文件格式错误.";

// The 64 bytes that open a recording file.
struct RecordingHeader {
    static constexpr std::size_t SIZE = 64;

    std::uint16_t version = 0;
    std::uint16_t eventCount = 0;
    std::string topic; // GBK, at most TOPIC_SIZE bytes, without its terminator
    std::uint32_t memberCount = 0;
    std::uint32_t chatLines = 0;
    std::uint32_t notices = 0;
    std::uint32_t startTime = 0;
    std::uint32_t savedTime = 0;

    std::string Encode() const;
    // Reads the first 64 bytes; false (and the header unchanged) when fewer are there.
    bool Decode(std::string_view bytes);

    bool operator==(const RecordingHeader&) const = default;
};

// The bytes of a recording file: the header with eventCount events (at most those there), the
// events and the end mark.
std::string EncodeRecording(const RecordingHeader& header, const std::vector<SessionEvent>& events);

// Reads a whole recording file strictly, as ReadLog does, telling nobody; false on any format
// error. Memory grows with the bytes really there, whatever the file claims.
bool ReadRecordingFile(std::istream& in, RecordingHeader& header,
                       std::vector<SessionEvent>& events);

class EventLog;

// Who follows the log as it grows: the keeper of the session's history.
class LogListener {
public:
    virtual ~LogListener() = default;
    // An event has just been appended.
    virtual void Appended(const EventLog& log) = 0;
    // The log is about to be emptied or replaced by a loaded recording.
    virtual void Replacing(const EventLog& log) = 0;
    // The log holds MAX_EVENTS and goes on with a next part: this part is complete as it is.
    virtual void PartComplete(const EventLog& log) = 0;
};

// The events a next part opens with: the session's state at that moment, so that the part
// replays on its own. Given the number of the part they open (2, 3, ...).
using NextPartOpening = std::function<std::vector<SessionEvent>(std::uint32_t part)>;

// The recording of the session this program takes part in, and the replay position in it.
// Appending is O(1); the log never holds more events than the file can count.
class EventLog {
public:
    EventLog(const Clock& clock, Prompter& prompter);

    // Records an event stamped with the seconds since the previous one. Past MAX_EVENTS the log
    // goes on with a next part when nextPartOpening is set: emptied, restarted at this moment
    // and opened with what that gives. Without it nothing more is recorded and the user is told
    // once. Returns whether the event was recorded.
    bool AppendEvent(EventKind kind, std::string_view payload = {});
    // Empties the log and the header for a new session; baseTime and endTime stay.
    void ClearLog();
    // Writes the recording file (setting eventCount and savedTime); false when the stream fails.
    bool WriteLog(std::ostream& out);
    // Reads a recording file. On any format error the user is told RECORDING_FORMAT_ERROR here,
    // as every front end shows it, false is returned and the log stays exactly as it was.
    bool ReadLog(std::istream& in);

    // Replay accessors; each answers nothing (or 0) at a position that holds no event.
    const SessionEvent* CurrentEvent() const;
    std::int32_t NextDelay() const;
    void AdvanceCursor();
    // Seconds from the start of the recorded session to its saving; never negative.
    std::int32_t RecordedLength() const;
    // The sum of the delays of the events up to and including the cursor (all of them when the
    // cursor is past the end).
    std::int32_t ElapsedAtCursor() const;

    std::vector<SessionEvent> events;
    RecordingHeader header;
    bool ended = false;
    std::uint32_t cursor = 1; // 1-based
    CalendarTime baseTime = 0;
    CalendarTime endTime = 0;
    std::int32_t lastElapsed = 0;
    // The part of its session the log holds: 1, then 2, 3, ... past MAX_EVENTS each.
    std::uint32_t part = 1;
    NextPartOpening nextPartOpening;
    LogListener* listener = nullptr;

private:
    const Clock& clock_;
    Prompter& prompter_;
    bool capReported_ = false;
};

} // namespace kolvena
