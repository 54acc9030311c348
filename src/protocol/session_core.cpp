#include "session_core.h"

#include "session/gbk.h"

namespace kolvena {

SessionCore::SessionCore(const Clock& clock, Prompter& prompter, Transport& transport,
                         SessionView& view, TransferStarter& transfers)
    : clock(clock), prompter(prompter), transport(transport), view(view), transfers(transfers),
      session(clock, prompter), recorder(clock, prompter), host(*this), client(*this),
      commands(*this) {}

void SessionCore::Start() {
    session.showTimeOnChat = false;
    session.showTimeOnMessages = true;
    session.verifyMessages = true;
    session.soundOn = true;
    session.messageText += MessageWindowHeader();
    view.RefreshMessages();
    ShowWelcomeBanner();
    view.RefreshTitle();
    view.SetWindowMode(WindowMode::Idle);
}

void SessionCore::ShowWelcomeBanner() {
    session.AddLine(KOLVENA_TEXT("            ================================================= "),
                    0);
    session.AddLine(KOLVENA_TEXT("            =       欢迎加入 网络会话(Kolvena) v1.0       = "),
                    0);
    session.AddLine(KOLVENA_TEXT("            ================================================= "),
                    0);
    session.AddLine("", 0);
    view.RefreshChat();
}

void SessionCore::Say(std::string text) {
    session.AddLine(std::move(text), 1);
}

void SessionCore::FollowDeparture(std::uint16_t index) {
    if (session.target == index)
        session.target = 0;
    else if (session.target > index)
        --session.target;
}

bool SessionCore::OnConnectionPending() {
    session.unsaved = true;
    return host.OnConnectionPending();
}

void SessionCore::OnHostPacket(ConnectionId connection, std::string packet) {
    session.unsaved = true;
    host.OnPacket(connection, std::move(packet));
}

void SessionCore::OnMemberLeave(ConnectionId connection) {
    session.unsaved = true;
    host.OnMemberLeave(connection);
}

void SessionCore::OnClientPacket(std::string packet) {
    session.unsaved = true;
    client.OnPacket(std::move(packet));
}

void SessionCore::OnHostGone() {
    session.unsaved = true;
    client.OnHostGone();
}

void SessionCore::OnConnectResult(bool connected) {
    commands.OnConnectResult(connected);
}

} // namespace kolvena
