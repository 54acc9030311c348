#pragma once

#include <memory>
#include <string>

#include "client_handler.h"
#include "commands.h"
#include "core_parts.h"
#include "host_handler.h"
#include "member_commands.h"
#include "record/history_keeper.h"
#include "replay_engine.h"

namespace kolvena {

namespace test {
struct CoreAccess;
}

// Everything one front end owns for the whole run: the session, its recording, the handlers,
// the commands and the replay, wired to the front end's endpoint, prompter, view and
// transfers. The window and the headless peer each build one and reach the session through
// its commands; they read the session, never write it.
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

    // The endpoint's reports; each marks the session as changed since it was last saved.
    bool RefuseConnection(const std::string& address) override;
    bool OnConnectionPending() override;
    void OnHostPacket(ConnectionId connection, std::string packet) override;
    void OnMemberLeave(ConnectionId connection) override;
    void OnClientPacket(std::string packet) override;
    void OnHostGone() override;
    void OnConnectResult(bool connected) override;
    std::optional<SearchAnswer> AnswerSearch(std::uint32_t queryId) const override {
        return AnswerFor(parts_.session, parts_.transport, queryId);
    }

    const Session& session() const { return parts_.session; }
    const Recorder& recorder() const { return parts_.recorder; }
    Commands& commands() { return commands_; }
    // The leader's management of the members: its commands, rows and refused addresses.
    MemberCommands& members() { return members_; }
    ReplayEngine& replay() { return replay_; }

    // Keeps every session from now on as a recording in folder (HistoryKeeper), written on the
    // timer's shots, each part past 65,535 events in a file of its own. The keeper ends with
    // the core, writing what it has not written yet.
    void KeepHistory(const std::string& folder, HistoryTimer& timer);
    HistoryKeeper* history() { return history_.get(); }

    // From an accepted offer until its transfer has ended: a second offer is refused.
    bool TransferBusy() const { return parts_.session.transfer.busy; }

private:
    friend struct test::CoreAccess;

    CoreParts parts_;
    HostHandler host_;
    ClientHandler client_;
    ReplayEngine replay_;
    Commands commands_;
    MemberCommands members_;
    std::unique_ptr<HistoryKeeper> history_;
};

} // namespace kolvena
