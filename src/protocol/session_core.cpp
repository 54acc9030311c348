#include "session_core.h"

#include "history_parts.h"

namespace kolvena {

SessionCore::SessionCore(const Clock& clock, Prompter& prompter, Transport& transport,
                         SessionView& view, TransferStarter& transfers, ReplayTimer& replayTimer)
    : parts_(clock, prompter, transport, view, transfers), host_(parts_), client_(parts_),
      replay_(parts_, replayTimer), commands_(parts_, client_, replay_), members_(parts_, host_) {
    transfers.WhenEnded([this] { parts_.session.transfer.busy = false; });
}

void SessionCore::KeepHistory(const std::string& folder, HistoryTimer& timer) {
    history_.reset();
    history_ = std::make_unique<HistoryKeeper>(parts_.recorder.log, parts_.session, parts_.prompter,
                                               timer, folder);
    parts_.recorder.log.nextPartOpening = NextPartOpeningFor(parts_);
}

void SessionCore::Start() {
    Session& session = parts_.session;
    session.settings.showTimeOnChat = false;
    session.settings.showTimeOnMessages = true;
    session.settings.verifyMessages = true;
    session.settings.soundOn = true;
    session.settings.searchAllowed = true;
    session.messageText += MessageWindowHeader();
    parts_.view.RefreshMessages();
    parts_.show.ShowWelcomeBanner();
    parts_.view.RefreshTitle();
    parts_.view.SetWindowMode(WindowMode::Idle);
}

bool SessionCore::RefuseConnection(const std::string& address) {
    return host_.RefuseConnection(address);
}

bool SessionCore::OnConnectionPending() {
    parts_.session.unsaved = true;
    return host_.OnConnectionPending();
}

void SessionCore::OnHostPacket(ConnectionId connection, std::string packet) {
    parts_.session.unsaved = true;
    host_.OnPacket(connection, std::move(packet));
}

void SessionCore::OnMemberLeave(ConnectionId connection) {
    parts_.session.unsaved = true;
    host_.OnMemberLeave(connection);
}

void SessionCore::OnClientPacket(std::string packet) {
    parts_.session.unsaved = true;
    client_.OnPacket(std::move(packet));
}

void SessionCore::OnHostGone() {
    parts_.session.unsaved = true;
    client_.OnHostGone();
}

void SessionCore::OnConnectResult(bool connected) {
    commands_.OnConnectResult(connected);
}

} // namespace kolvena
