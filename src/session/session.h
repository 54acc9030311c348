#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "buddy.h"
#include "clock.h"
#include "member_numbers.h"
#include "prompter.h"

namespace kolvena {

// The message window's first line. Every program starts its message text with it, and the
// Welcome's backlog leaves it out (56 bytes in GBK).
std::string_view MessageWindowHeader(); // GBK

// What a line reports, kept beside its text for a front end that gives it as data instead of as
// the text a person reads (the peer's --json). Names are GBK and as they were when the line was
// made, so that a later rename or departure does not change what the line said.
enum class LineKind : std::uint8_t {
    Text, // one of the program's own lines: nothing more to tell than its text
    Chat,
    Notice,
    Joined, // also the own member, once the host's Welcome has arrived
    Left,
    Renamed,
    Asleep,
    Awake,
    Ended, // the session ended here: the own leave, or the host went away
};
struct LineFacts {
    LineKind kind = LineKind::Text;
    BuddyId member;         // the speaker or sender, or the member the line is about
    std::string name;       // that member's name; renamed: the name before
    ActiveIndex index;      // chat: the addressee (nobody: everyone); otherwise the member's own
    std::string targetName; // chat: the addressee's name
    bool whisper = false;
    std::string text;    // chat and notice: what was said; renamed: the new name
    bool toSelf = false; // chat: addressed to the own member
};

// One line of the chat area. A composed chat line carries its packet's stamp field, which the
// caller passes on as the stamp of the line it adds.
struct LineRecord {
    std::string text; // GBK
    std::uint32_t packetStamp = 0;
    CalendarTime time = 0;
    std::uint32_t stamp = 0; // non-zero: the line may show a time suffix
    LineFacts facts;
};

// A member's notice in the message window. The window holds text only, and a Welcome's backlog
// arrives as text; the offset, where the notice's line starts in the text, tells a front end
// which lines it can give as data.
struct NoticeRecord {
    std::size_t offset = 0;
    CalendarTime time = 0;
    LineFacts facts;
};

// The fields of a chat packet (SayToHost or Say) that make a line.
struct ChatLine {
    std::string recipients; // one ActiveIndex byte per entry
    ActiveIndex target;     // the addressee, nobody = everyone
    BuddyId sender;         // the speaker
    std::uint8_t whisper = 0;
    std::uint32_t stamp = 0;
    std::string text; // GBK, not terminated
};

// The one session this program takes part in: roster, chat area, message window, counters
// and settings. The roster only grows while a session lasts; a member who leaves is marked,
// so every member has a BuddyID (position in the whole roster) and an ActiveIndex (position
// among the members still present).
class Session {
public:
    Session(const Clock& clock, Prompter& prompter);

    // --- roster ---
    // Gives the record the next BuddyID and the current time as joinTime, appends it and
    // returns the present count.
    std::uint16_t AddBuddy(Buddy buddy);
    // Appends a record exactly as received.
    void AppendBuddy(const Buddy& buddy);
    std::uint16_t GetBuddyCount() const;
    // The k-th present member. Out of range: the diagnostic box and the last record of the
    // roster; nothing at all when the roster is empty.
    Buddy* GetBuddy(ActiveIndex index);
    // The k-th present member; nothing out of range, without a word.
    const Buddy* PresentAt(ActiveIndex index) const;
    // The index itself when a member present has it, nobody otherwise.
    ActiveIndex CheckBuddyIndex(ActiveIndex index) const;
    ActiveIndex GetSelfIndex() const;
    // The record at position BuddyID in the whole roster, departed members included.
    Buddy* BuddyById(BuddyId id);
    const Buddy* BuddyById(BuddyId id) const;
    // Where the member is among those present; nobody if it has left.
    ActiveIndex ActiveIndexOf(BuddyId id) const;
    void RemoveBuddy(ActiveIndex index);
    void MarkBuddyLeft(std::size_t position);
    std::uint16_t CountMarkedBuddies() const;
    // The ActiveIndex of every present member whose olFlag is set, one byte each, at most
    // length bytes.
    std::string MakeBuddyIDStream(std::uint16_t length);
    bool StreamHasSelf(std::string_view stream) const;
    void EmptyRoster() { roster.clear(); }

    // --- chat area and message window ---
    void AddLine(std::string text, std::uint32_t stamp, std::uint32_t packetStamp = 0,
                 LineFacts facts = {});
    // The chat area's text: each line, with a time suffix where allowed, CR LF after each.
    std::string RenderLines() const;
    // The suffix RenderLines puts behind a line, empty when it shows none.
    std::string LineSuffix(const LineRecord& line) const;
    // Appends a line to the message window; facts of kind Notice also keep a NoticeRecord.
    void RecordMessage(std::string_view text, LineFacts facts = {});
    // Empties the chat area and the message window (which keeps its header).
    void ClearPanes();
    // Composes the line a chat packet shows and keeps the chat counters. Nothing when the
    // packet names a sender or an addressee the roster lacks; the counters are then unchanged.
    std::optional<LineRecord> ComposeChatLine(const ChatLine& chat);

    const Clock& clock() const { return clock_; }
    Prompter& prompter() { return prompter_; }

    // --- the session itself ---
    std::string topic; // GBK
    bool isHost = false;
    bool inSession = false;
    bool asleep = false;
    bool unsaved = true;
    CalendarTime createdAt = 0;
    CalendarTime endedAt = 0;
    std::uint32_t reserved = 0; // the stamp field of every chat packet sent
    // Set when a recording is opened; it turns time suffixes off for the rest of the run.
    bool replayFlag = false;

    // --- roster: everyone who took part, the own member and the chosen target ---
    std::vector<Buddy> roster;
    BuddyId selfId;
    ActiveIndex target;

    // --- panes: the chat area's lines, the message window's text, the last line typed ---
    std::vector<LineRecord> lines;
    std::string messageText; // GBK
    std::vector<NoticeRecord> notices;
    LineRecord lastLine;

    // --- counters the status window shows ---
    struct Counters {
        std::uint16_t chatLineTotal = 0;
        std::uint16_t messageTotal = 0;
        std::uint16_t ownSayTotal = 0;
        std::uint16_t ownMessageTotal = 0;
        std::uint16_t relatedSayTotal = 0;
    } counters;

    // --- settings: the settings dialog's, kept for the whole run ---
    struct Settings {
        bool showTimeOnChat = false;
        bool showTimeOnMessages = true;
        bool verifyMessages = true;
        bool soundOn = true;
        std::uint16_t maxClients = 20;
        bool searchAllowed = true; // a hosted session answers searches of the local network
    } settings;

    // --- the file transfer: the own offer's path, the offered name (own or received), its
    // size and the recipient of the own offer; busy from an accepted offer until its transfer
    // has ended, so that a second offer is refused meanwhile ---
    struct Transfer {
        std::string path;
        std::string name;
        std::uint32_t size = 0;
        ActiveIndex peer;
        bool busy = false;
    } transfer;

private:
    const Clock& clock_;
    Prompter& prompter_;
};

} // namespace kolvena
