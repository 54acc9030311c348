#pragma once

#include <string>

#include "client_handler.h"
#include "commands.h"
#include "host_handler.h"
#include "record/recorder.h"
#include "replay_engine.h"
#include "session/session.h"
#include "session_view.h"
#include "transfer_starter.h"
#include "transport.h"

namespace kolvena {

// Everything one front end owns for the whole run: the session, its recording, the handlers
// and the commands, wired to the front end's endpoint, prompter, view and transfers. The
// window and the headless peer each build one.
class SessionCore final : public LinkListener {
public:
    // replayTimer drives the replay of opened recordings; a front end that replays nothing
    // leaves it out.
    SessionCore(const Clock& clock, Prompter& prompter, Transport& transport, SessionView& view,
                TransferStarter& transfers, ReplayTimer& replayTimer = NoReplayTimer());
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    // The start-up state: default settings, the message-window header and the welcome banner.
    void Start();
    // The three banner lines and an empty line, without time suffixes.
    void ShowWelcomeBanner();

    bool OnConnectionPending() override;
    void OnHostPacket(ConnectionId connection, std::string packet) override;
    void OnMemberLeave(ConnectionId connection) override;
    void OnClientPacket(std::string packet) override;
    void OnHostGone() override;
    void OnConnectResult(bool connected) override;

    // Adds a line with stamp 1 to the chat area (GBK).
    void Say(std::string text);
    // The member at ActiveIndex index has left: the chosen target keeps naming the same member
    // (everyone, if it was the one who left), since later ActiveIndexes moved down by one.
    void FollowDeparture(std::uint16_t index);

    // What every program shows alike, whether the change is its own, relayed by the host or
    // announced to a member.
    // A member goes to sleep or wakes: its state, the member list and the line.
    void ShowPresence(Buddy& member, bool asleep);
    // A member renames itself: the line names the old name, then the record changes.
    void ShowRename(Buddy& member, std::string_view name);
    // The member at ActiveIndex index leaves: the line, the mark, the target and the refreshes.
    void ShowDeparture(std::uint16_t index);
    // Asks whether to accept an offered file, remembering its name and size as the pending
    // transfer.
    BoxAnswer AskToAcceptFile(const FilePacket& offer);
    // The recipient of the own offer refused it.
    void TellOfferRefused(std::uint16_t recipient);
    // An offer arrived while a transfer runs: it has been refused at once, and the user learns
    // why; the running transfer goes on undisturbed.
    void TellBusy();

    const Clock& clock;
    Prompter& prompter;
    Transport& transport;
    SessionView& view;
    TransferStarter& transfers;

    Session session;
    Recorder recorder;

    // The window's join and transfer state.
    bool joining = false;
    std::string pendingName; // GBK
    bool transferBusy = false;

    HostHandler host;
    ClientHandler client;
    Commands commands;
    ReplayEngine replay;
};

} // namespace kolvena
