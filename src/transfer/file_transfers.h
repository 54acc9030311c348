#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "net/thread_mailbox.h"
#include "protocol/transfer_starter.h"
#include "session/prompter.h"
#include "transfer_stream.h"
#include "transfer_view.h"

namespace kolvena {

class TransferWorker;

// The question both front ends ask before the user gives up the running transfer; true when
// the user confirmed.
bool ConfirmGiveUp(Prompter& prompter);
struct WorkerReports;

// How a transfer ended, as the own side saw it.
enum class TransferOutcome {
    Done,           // every chunk went through
    PeerGaveUp,     // the other side gave up (or its connection broke mid-transfer)
    OwnGaveUp,      // the user gave up
    CannotConnect,  // the offerer could not reach the recipient
    CannotReadFile, // the offerer's file could not be opened or read
    CannotStore,    // the recipient could not write the received bytes
};

// The file-transfer side of one program, shared by the window and the headless peer: the
// sending and receiving workers the core starts when an offer is accepted.
// Each worker owns its socket and its file; progress and outcome come back to the thread that
// started it. The received file is streamed to a temporary file in the system's temporary folder
// and moved to where the user chooses only when it is complete; nothing partial is ever saved.
class FileTransfers final : public TransferStarter {
public:
    // port: the transfer port both sides use; the window uses TRANSFER_PORT.
    FileTransfers(Prompter& prompter, TransferView& view, std::uint16_t port = TRANSFER_PORT);
    // Stops a running worker at once. Touches neither the core nor the view: either may be
    // gone already.
    ~FileTransfers() override;

    // The user confirmed giving up ("放弃" and its question, asked by the front end).
    void GiveUp();
    // Whether a worker runs; the core says whether the program is busy with a transfer.
    bool Running() const { return worker_ != nullptr; }

    // For tests: every step is shown, and the worker waits until it has been shown before it
    // goes on, so that a view can act at an exact chunk. Takes effect with the next transfer.
    void SetLockstep(bool on) { lockstep_ = on; }

    // TransferStarter: the core has accepted an offer (receive) or seen the own offer accepted
    // (send). Listening starts before StartReceiving returns, so the acceptance the core sends
    // afterwards can never reach the offerer before the port is open.
    bool StartReceiving(const FilePacket& offer) override;
    bool StartSending(const FilePacket& offer, const std::string& recipientAddress,
                      const std::string& path) override;

    // Called on the starting thread for the worker, through the mailbox.
    void OnProgress(std::uint32_t chunk, std::uint32_t chunks);
    void OnEnded(TransferOutcome outcome);

private:
    void Finish(TransferOutcome outcome);
    void SaveReceived();
    // Refuses an offer of more chunks than the stream can count.
    bool Fits(std::uint64_t size);
    WorkerReports MakeReports();
    void RemoveReceived();

    Prompter& prompter_;
    TransferView& view_;
    std::uint16_t port_;
    // Declared before the worker, so that it outlives the worker's join.
    ThreadMailbox mailbox_;
    std::unique_ptr<TransferWorker> worker_;
    bool receiving_ = false;
    std::string receivedPath_; // the temporary file of a receive
    std::string receivedName_; // GBK, already made safe
    std::uint32_t chunks_ = 0;
    // Tells the reports of a finished worker from those of the next.
    std::uint64_t generation_ = 0;
    bool lockstep_ = false;
};

} // namespace kolvena
