#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "packets.h"
#include "session/session.h"
#include "session_view.h"

namespace kolvena {

// What each happening does to the session and the panes, alike whether the program lives
// through it (its own, relayed by the host, announced to a member) or replays it from a
// recording. The handlers, the commands and the replay decide whether something happens and
// what goes on the wire; this is the one place that says what it shows.
class SessionEffects {
public:
    SessionEffects(Session& session, SessionView& view, Prompter& prompter)
        : session_(session), view_(view), prompter_(prompter) {}

    // Adds a line with stamp 1 to the chat area (GBK), without refreshing.
    void Say(std::string text, LineFacts facts = {});
    // Say, then the chat area shows it.
    void SayNow(std::string text, LineFacts facts = {});
    // Say, for the line where the session has ended for the own program.
    void SayEnded(std::string text);
    // What a line about the member tells besides its text.
    static LineFacts About(LineKind kind, const Buddy& member, ActiveIndex index = {});
    // The three banner lines and an empty line, without time suffixes.
    void ShowWelcomeBanner();
    // Beeps when sound is on.
    void Beep(BeepKind kind);

    // The host's Welcome: topic, backlog, the whole roster with the own record last, the
    // greeting lines and every pane.
    void ShowWelcome(const WelcomePacket& welcome);
    // A newcomer announced to a member: its record, the line and the refreshes.
    void ShowJoined(std::string_view name, std::string_view address);
    // The line a chat packet shows, its chat counters and its speaker's count; nothing (and
    // nothing counted) when the packet names somebody the roster lacks. ShowChatLine puts it
    // in the chat area.
    std::optional<LineRecord> ComposeChat(const ChatLine& chat);
    // Whether the own program shows the line: the leader relays whispers between members and
    // records them, but sees only its own and those to everyone or to itself, live and in the
    // replay alike.
    bool Sees(const ChatLine& chat) const;
    void ShowChatLine(const LineRecord& line);
    // A notice as it enters the message window, with its counters; false when its sender is
    // not in the roster.
    bool ShowNotice(const NoticePacket& notice);
    // A member goes to sleep or wakes: its state, the member list and the line.
    void ShowPresence(Buddy& member, bool asleep);
    // A member renames itself: the line names the old name, then the record changes.
    void ShowRename(Buddy& member, std::string_view name);
    // The member at `index` leaves: the line, the mark, the target and the refreshes.
    void ShowDeparture(ActiveIndex index);
    // The member at `index` has left: the chosen target keeps naming the same member
    // (everyone, if it was the one who left), since later ActiveIndexes moved down by one.
    void FollowDeparture(ActiveIndex index);

private:
    Session& session_;
    SessionView& view_;
    Prompter& prompter_;
};

} // namespace kolvena
