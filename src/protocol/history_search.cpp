#include "history_search.h"

#include <array>
#include <fstream>

#include "packets.h"
#include "record/event_log.h"
#include "session/text.h"

namespace kolvena {
namespace {

// The largest file a recording can be: every event a full Welcome.
constexpr std::uint64_t MAX_RECORDING_SIZE = std::uint64_t{MAX_EVENTS} * (MAX_WELCOME_SIZE + 9);

std::uint8_t At(std::string_view text, std::size_t i) {
    return static_cast<std::uint8_t>(text[i]);
}

std::size_t CharLength(std::string_view text, std::size_t i) {
    const std::uint8_t lead = At(text, i);
    if (lead < 0x81 || lead > 0xFE || i + 1 >= text.size())
        return 1;
    const std::uint8_t second = At(text, i + 1);
    if (second >= 0x30 && second <= 0x39)
        return i + 3 < text.size() ? 4 : 1;
    return 2;
}

// A character's bytes with its letter, if it is one, in lower case.
std::array<std::uint8_t, 4> Folded(std::string_view text, std::size_t i, std::size_t length) {
    std::array<std::uint8_t, 4> out{};
    for (std::size_t k = 0; k < length; ++k)
        out[k] = At(text, i + k);
    if (length == 1 && out[0] >= 'A' && out[0] <= 'Z')
        out[0] = static_cast<std::uint8_t>(out[0] + 0x20);
    else if (length == 2) {
        const std::uint8_t lead = out[0], trail = out[1];
        if ((lead == 0xA3 && trail >= 0xC1 && trail <= 0xDA) || // full-width Latin
            (lead == 0xA6 && trail >= 0xA1 && trail <= 0xB8))   // Greek
            out[1] = static_cast<std::uint8_t>(trail + 0x20);
        else if (lead == 0xA7 && trail >= 0xA1 && trail <= 0xC1) // Cyrillic
            out[1] = static_cast<std::uint8_t>(trail + 0x30);
    }
    return out;
}

bool MatchesAt(std::string_view text, std::size_t at, std::string_view needle) {
    for (std::size_t j = 0; j < needle.size();) {
        if (at >= text.size())
            return false;
        const std::size_t length = CharLength(needle, j);
        if (CharLength(text, at) != length || Folded(text, at, length) != Folded(needle, j, length))
            return false;
        j += length;
        at += length;
    }
    return true;
}

// The names the roster has at each point of the recording, by BuddyID.
class Names {
public:
    void Apply(const SessionEvent& event) {
        const std::string_view data = event.data;
        switch (event.kind) {
        case EventKind::EvSessionCreated:
            names_.assign(1, std::string(ShownText(data.substr(0, NAME_SIZE))));
            break;
        case EventKind::EvSessionJoined:
            if (const auto welcome = ReadWelcome(data)) {
                names_.clear();
                for (const Buddy& buddy : welcome->roster)
                    names_.emplace_back(buddy.Name());
            }
            break;
        case EventKind::EvMemberJoined:
            if (const auto joined = ReadMemberJoined(data))
                names_.push_back(joined->name);
            else if (const auto login = ReadLogin(data))
                names_.push_back(login->name);
            break;
        case EventKind::EvNameChanged:
            if (const auto rename = ReadRename(data))
                if (rename->sender.value >= 1 && rename->sender.value <= names_.size())
                    names_[rename->sender.value - 1u] = rename->name;
            break;
        default:
            break;
        }
    }
    std::string_view Of(BuddyId id) const {
        return id.value >= 1 && id.value <= names_.size() ? std::string_view(names_[id.value - 1u])
                                                          : std::string_view("?");
    }

private:
    std::vector<std::string> names_;
};

} // namespace

bool ContainsIgnoringCase(std::string_view text, std::string_view needle) {
    if (needle.empty())
        return true;
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (MatchesAt(text, i, needle))
            return true;
    return false;
}

std::vector<HistoryMatch> SearchRecording(const std::string& path, std::string_view needle) {
    std::vector<HistoryMatch> matches;
    const RecordingSummary summary = ReadRecordingSummary(path);
    if (summary.status == RecordingStatus::Unreadable || summary.size > MAX_RECORDING_SIZE)
        return matches;
    std::ifstream in(path, std::ios::binary);
    RecordingHeader header;
    std::vector<SessionEvent> events;
    if (!in || !ReadRecordingFile(in, header, events))
        return matches;
    Names names;
    CalendarTime time = header.startTime;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const SessionEvent& event = events[i];
        time += event.delay > 0 ? event.delay : 0;
        names.Apply(event);
        BuddyId sender;
        std::string_view text;
        std::optional<ChatLine> chat;
        std::optional<NoticePacket> notice;
        if (event.kind == EventKind::EvChatLine && (chat = ReadChat(event.data))) {
            sender = chat->sender;
            text = ShownText(chat->text);
        } else if (event.kind == EventKind::EvNotice && !event.data.empty() &&
                   At(event.data, 0) != static_cast<std::uint8_t>(PacketType::NoticeRefused) &&
                   (notice = ReadNotice(event.data))) {
            sender = notice->sender;
            text = ShownText(notice->text);
        } else {
            continue;
        }
        if (!ContainsIgnoringCase(text, needle))
            continue;
        std::string line(names.Of(sender));
        line += ": ";
        line += text;
        matches.push_back({path, static_cast<std::uint32_t>(i + 1), time, std::move(line)});
    }
    return matches;
}

std::vector<HistoryMatch> SearchRecordings(const std::vector<RecordingSummary>& recordings,
                                           std::string_view needle) {
    std::vector<HistoryMatch> matches;
    for (const RecordingSummary& recording : recordings) {
        if (recording.status == RecordingStatus::Unreadable)
            continue;
        std::vector<HistoryMatch> found = SearchRecording(recording.path, needle);
        matches.insert(matches.end(), std::make_move_iterator(found.begin()),
                       std::make_move_iterator(found.end()));
    }
    return matches;
}

} // namespace kolvena
