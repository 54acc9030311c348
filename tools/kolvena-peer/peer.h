#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <string>
#include <string_view>

#include "net/session_link.h"
#include "peer_options.h"
#include "peer_output.h"
#include "protocol/session_core.h"
#include "transfer/file_transfers.h"
#include "transfer_report.h"

namespace kolvena::peer {

// The headless front end: the same core as the window, driven by commands on standard input,
// showing what a person would see on standard output.
class Peer final : public QObject, public LinkListener, public TransferStarter {
public:
    explicit Peer(PeerOptions options);

    // Creates or joins the session; non-zero when that failed at once.
    int Start();

    // The link reports to the core; the peer only watches the join's outcome.
    bool OnConnectionPending() override { return core_.OnConnectionPending(); }
    void OnHostPacket(ConnectionId connection, std::string packet) override {
        core_.OnHostPacket(connection, std::move(packet));
    }
    void OnMemberLeave(ConnectionId connection) override { core_.OnMemberLeave(connection); }
    void OnClientPacket(std::string packet) override { core_.OnClientPacket(std::move(packet)); }
    void OnHostGone() override { core_.OnHostGone(); }
    void OnConnectResult(bool connected) override;

    // The core is built before the transfers, which need it: it starts them through the peer.
    void StartReceiving(const FilePacket& offer) override;
    void StartSending(const FilePacket& offer, const std::string& recipientAddress) override;

private:
    void ReadInput();
    void Execute(std::string_view line);
    void Send(std::string_view text, bool asNotice, bool whisper);
    bool SetTarget(std::string_view index);
    void ApplySettings(std::string_view arguments);
    void SaveTranscript(const std::string& path);
    void Offer(std::string_view arguments);
    void GiveUp();
    // Leaves the session, saves the recording if asked to, and ends the program.
    void Finish(int code);

    PeerOptions options_;
    SystemClock clock_;
    TransferReport report_;
    PeerOutput output_;
    SessionLink link_;
    SessionCore core_;
    FileTransfers transfers_;
    std::string offeredPath_; // as typed
    QSocketNotifier input_;
    QTimer joinTimer_;
    std::string pending_;
    bool finished_ = false;
};

} // namespace kolvena::peer
