#include "event_log.h"

#include <algorithm>
#include <istream>
#include <limits>
#include <ostream>

#include "session/bytes.h"

namespace kolvena {
namespace {

constexpr std::string_view END_MARK = RECORDING_END_MARK;
constexpr std::size_t MAX_DATA_LENGTH = std::numeric_limits<std::uint32_t>::max();
// Data is read in pieces of this size, so that a length the file merely claims costs no
// more memory than the bytes really there.
constexpr std::size_t READ_PIECE = 64 * 1024;

constexpr char CAP_REACHED_TEXT[] = "会话录象已达到 65535 个事件的上限，此后的事件将不再录入。";

std::int32_t ClampToI32(std::int64_t value) {
    constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(value, low, high));
}

// Reads exactly count bytes into out, or fails. Memory grows with the bytes really read, one
// piece ahead at most.
bool ReadExactly(std::istream& in, std::size_t count, std::string& out) {
    out.clear();
    while (out.size() < count) {
        const std::size_t piece = std::min(count - out.size(), READ_PIECE);
        const std::size_t start = out.size();
        out.resize(start + piece);
        in.read(out.data() + start, static_cast<std::streamsize>(piece));
        if (static_cast<std::size_t>(in.gcount()) != piece)
            return false;
    }
    return true;
}

bool ReadRecord(std::istream& in, SessionEvent& event) {
    std::string head;
    if (!ReadExactly(in, RECORD_HEAD_SIZE, head))
        return false;
    ByteReader reader(head);
    std::uint8_t kind = 0;
    std::uint32_t length = 0;
    reader.U8(kind);
    reader.I32(event.delay);
    reader.U32(length);
    event.kind = static_cast<EventKind>(kind);
    return ReadExactly(in, length, event.data);
}

} // namespace

bool ReadRecordingFile(std::istream& in, RecordingHeader& header,
                       std::vector<SessionEvent>& events) {
    std::string bytes;
    if (!ReadExactly(in, RecordingHeader::SIZE, bytes) || !header.Decode(bytes))
        return false;
    for (std::size_t i = 0; i < header.eventCount; ++i) {
        SessionEvent event;
        if (!ReadRecord(in, event))
            return false;
        events.push_back(std::move(event));
    }
    return ReadExactly(in, END_MARK.size(), bytes) && bytes == END_MARK;
}

namespace {

std::string EncodeRecordHead(const SessionEvent& event) {
    std::string head;
    ByteWriter writer(head);
    writer.U8(static_cast<std::uint8_t>(event.kind));
    writer.I32(event.delay);
    writer.U32(static_cast<std::uint32_t>(event.data.size()));
    return head;
}

} // namespace

std::string RecordingHeader::Encode() const {
    std::string out;
    out.reserve(SIZE);
    ByteWriter writer(out);
    writer.U16(version);
    writer.U16(eventCount);
    writer.Field(topic, TOPIC_SIZE);
    writer.U32(memberCount);
    writer.U32(chatLines);
    writer.U32(notices);
    writer.U32(startTime);
    writer.U32(savedTime);
    return out;
}

bool RecordingHeader::Decode(std::string_view bytes) {
    ByteReader reader(bytes);
    RecordingHeader read;
    std::string_view topicField;
    reader.U16(read.version);
    reader.U16(read.eventCount);
    reader.Take(TOPIC_SIZE, topicField);
    reader.U32(read.memberCount);
    reader.U32(read.chatLines);
    reader.U32(read.notices);
    reader.U32(read.startTime);
    reader.U32(read.savedTime);
    if (!reader.Ok())
        return false;
    read.topic = std::string(FieldText(topicField));
    *this = std::move(read);
    return true;
}

std::string EncodeRecording(const RecordingHeader& header,
                            const std::vector<SessionEvent>& events) {
    const std::size_t count = std::min<std::size_t>(header.eventCount, events.size());
    std::size_t size = RecordingHeader::SIZE + END_MARK.size();
    for (std::size_t i = 0; i < count; ++i)
        size += RECORD_HEAD_SIZE + events[i].data.size();
    std::string out;
    out.reserve(size);
    RecordingHeader written = header;
    written.eventCount = static_cast<std::uint16_t>(count);
    out += written.Encode();
    for (std::size_t i = 0; i < count; ++i) {
        out += EncodeRecordHead(events[i]);
        out += events[i].data;
    }
    out += END_MARK;
    return out;
}

EventLog::EventLog(const Clock& clock, Prompter& prompter)
    : baseTime(clock.Now()), endTime(baseTime), clock_(clock), prompter_(prompter) {}

bool EventLog::AppendEvent(EventKind kind, std::string_view payload) {
    if (events.size() >= MAX_EVENTS && nextPartOpening) {
        if (listener != nullptr)
            listener->PartComplete(*this);
        std::vector<SessionEvent> opening = nextPartOpening(part + 1);
        // The opening must leave room for the event that did not fit.
        if (opening.size() >= MAX_EVENTS)
            opening.resize(MAX_EVENTS - 1);
        ++part;
        events.clear();
        baseTime = clock_.Now();
        lastElapsed = 0;
        header.startTime = static_cast<std::uint32_t>(baseTime);
        for (SessionEvent& event : opening) {
            event.delay = 0;
            events.push_back(std::move(event));
        }
    }
    if (events.size() >= MAX_EVENTS) {
        if (!capReported_) {
            capReported_ = true;
            prompter_.Inform(Notice::LogFull, "", CAP_REACHED_TEXT, BoxIcon::Warning);
        }
        return false;
    }
    // A record counts its data in 32 bits.
    if (payload.size() > MAX_DATA_LENGTH)
        return false;
    const CalendarTime now = clock_.Now();
    if (kind == EventKind::EvSessionCreated || kind == EventKind::EvSessionJoined) {
        // A session's first event starts its clock, even if the log was not cleared before.
        baseTime = now;
        lastElapsed = 0;
    }
    if (kind == EventKind::EvSessionEnded)
        endTime = now;
    const std::int32_t elapsed = ClampToI32(now - baseTime);
    const std::int32_t delay = ClampToI32(std::int64_t{elapsed} - lastElapsed);
    lastElapsed = elapsed;
    events.push_back(SessionEvent{kind, delay, std::string(payload)});
    if (listener != nullptr)
        listener->Appended(*this);
    return true;
}

void EventLog::ClearLog() {
    if (listener != nullptr)
        listener->Replacing(*this);
    events.clear();
    part = 1;
    header = RecordingHeader{};
    ended = false;
    cursor = 1;
    lastElapsed = 0;
    capReported_ = false;
}

bool EventLog::WriteLog(std::ostream& out) {
    const std::size_t count = std::min(events.size(), MAX_EVENTS);
    for (std::size_t i = 0; i < count; ++i)
        if (events[i].data.size() > MAX_DATA_LENGTH)
            return false;
    header.eventCount = static_cast<std::uint16_t>(count);
    header.savedTime = static_cast<std::uint32_t>(clock_.Now());
    const std::string bytes = EncodeRecording(header, events);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return static_cast<bool>(out);
}

bool EventLog::ReadLog(std::istream& in) {
    RecordingHeader readHeader;
    std::vector<SessionEvent> readEvents;
    if (!ReadRecordingFile(in, readHeader, readEvents)) {
        prompter_.Inform(Notice::Failed, "", RECORDING_FORMAT_ERROR, BoxIcon::None);
        return false;
    }
    ClearLog();
    header = std::move(readHeader);
    events = std::move(readEvents);
    baseTime = header.startTime;
    endTime = header.savedTime;
    return true;
}

const SessionEvent* EventLog::CurrentEvent() const {
    if (cursor == 0 || cursor > events.size())
        return nullptr;
    return &events[cursor - 1];
}

std::int32_t EventLog::NextDelay() const {
    // The event after the cursor sits at index cursor (0-based).
    if (cursor >= events.size())
        return 0;
    return events[cursor].delay;
}

void EventLog::AdvanceCursor() {
    if (cursor <= events.size())
        ++cursor;
}

std::int32_t EventLog::RecordedLength() const {
    return ClampToI32(
        std::max<std::int64_t>(0, std::int64_t{header.savedTime} - std::int64_t{header.startTime}));
}

std::int32_t EventLog::ElapsedAtCursor() const {
    const std::size_t end = std::min<std::size_t>(cursor, events.size());
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < end; ++i)
        sum += events[i].delay;
    return ClampToI32(sum);
}

} // namespace kolvena
