#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <string>
#include <string_view>

#include "net/history_qt.h"
#include "net/join_ticker.h"
#include "net/session_link.h"
#include "peer_options.h"
#include "peer_output.h"
#include "protocol/session_core.h"
#include "transfer/file_transfers.h"
#include "transfer_report.h"

namespace kolvena::peer {

// The headless front end: the same core as the window, driven by commands on standard input,
// showing what a person would see on standard output.
class Peer final : public QObject {
public:
    explicit Peer(PeerOptions options);

    // Creates or joins the session; non-zero when that failed at once.
    int Start();

private:
    void ReadInput();
    void Execute(std::string_view line);
    void Send(std::string_view text, bool asNotice, bool whisper);
    bool SetTarget(std::string_view index);
    void ApplySettings(std::string_view arguments);
    // kick, ban, mute and unmute K: the member at K in the member list.
    void Manage(std::string_view command, std::string_view index);
    // Runs a command that asks for a file name, answering its dialog with path.
    template <typename Result>
    void WithPath(const std::string& path, Result (Commands::*command)(), bool recording = false) {
        output_.SetNextPath(path, recording);
        (core_.commands().*command)();
        output_.SetNextPath(std::nullopt);
    }
    void Offer(std::string_view arguments);
    void GiveUp();
    // Leaves the session, saves the recording if asked to, and ends the program.
    void Finish(int code);

    PeerOptions options_;
    SystemClock clock_;
    TransferReport report_;
    PeerOutput output_;
    SessionLink link_;
    FileTransfers transfers_;
    QtHistoryTimer historyTimer_; // before the core, whose keeper uses it to its end
    SessionCore core_;
    QSocketNotifier input_;
    JoinTicker joinTicker_{core_};
    std::string pending_;
    bool finished_ = false;
};

} // namespace kolvena::peer
