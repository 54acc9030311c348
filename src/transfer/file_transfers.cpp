#include "file_transfers.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "net/net_socket.h"
#include "record/record_files.h"
#include "session/gbk.h"
#include "transfer_files.h"
#include "transfer_worker.h"

namespace kolvena {

namespace {

constexpr const char* CONNECT_FAILED = "与会话主机连接没有成功，请重新连接。";
constexpr const char* FILTER = "All files (*.*) | *.* ||";

// The transfer port on every local address. Reused at once: the port of the last transfer
// may still be in TIME_WAIT.
UniqueFd ListenOn(std::uint16_t port, const char*& failure) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!fd.Valid() || ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        failure = "Could not bind server socket.";
        return UniqueFd();
    }
    if (::listen(fd.Get(), 1) != 0) {
        failure = "Server socket failed to listen.";
        return UniqueFd();
    }
    return fd;
}

} // namespace

bool ConfirmGiveUp(Prompter& prompter) {
    return prompter.Ask(Question::GiveUpTransfer, "终止文件传输", "您确认要终止传输文件?",
                        BoxButtons::YesNo, BoxIcon::Question) == BoxAnswer::Yes;
}

FileTransfers::FileTransfers(Prompter& prompter, TransferView& view, std::uint16_t port)
    : prompter_(prompter), view_(view), port_(port) {}

// The core may already be gone: only the worker and the temporary file are ours to end.
FileTransfers::~FileTransfers() {
    if (worker_)
        worker_->Halt();
    worker_.reset();
    RemoveReceived();
}

bool FileTransfers::Fits(std::uint64_t size) {
    if (FitsTransfer(size))
        return true;
    prompter_.Inform(Notice::Refused, "无法传输文件",
                     "文件太大, 无法传输: 文件最大为 671078400 字节.", BoxIcon::Information);
    return false;
}

void FileTransfers::GiveUp() {
    if (worker_)
        worker_->GiveUp();
}

WorkerReports FileTransfers::MakeReports() {
    const std::uint64_t generation = ++generation_;
    WorkerReports reports;
    reports.progress = [this, generation](std::uint32_t chunk, std::uint32_t chunks) {
        mailbox_.Post([this, generation, chunk, chunks] {
            if (generation == generation_)
                OnProgress(chunk, chunks);
        });
    };
    reports.ended = [this, generation](TransferOutcome outcome) {
        mailbox_.Post([this, generation, outcome] {
            if (generation == generation_)
                OnEnded(outcome);
        });
    };
    return reports;
}

bool FileTransfers::StartReceiving(const FilePacket& offer) {
    // The core starts one transfer at a time; a second start would take the running one's port.
    if (worker_)
        return false;
    view_.Starting({});
    receiving_ = true;
    if (!Fits(offer.fileSize))
        return false;
    // Listening before returning: the acceptance the core sends next must find the port open.
    const char* failure = nullptr;
    UniqueFd listening = ListenOn(port_, failure);
    if (!listening.Valid()) {
        prompter_.Inform(Notice::Failed, SOCKET_CAPTION, failure, BoxIcon::Information);
        return false;
    }
    RemoveReceived();
    UniqueFd file;
    if (const FileResult created = CreateReceivedFile(receivedPath_, file); !created.ok) {
        prompter_.Inform(Notice::Failed, "", created.error, BoxIcon::Information);
        receivedPath_.clear();
        return false;
    }
    receivedName_ = SafeFileName(offer.fileName);
    chunks_ = ChunkCount(offer.fileSize);
    view_.OpenProgress(FileLine(FromGbk(offer.fileName), offer.fileSize), chunks_, offer.fileSize);
    worker_ =
        std::make_unique<CRecieveFileThread>(std::move(listening), std::move(file), receivedPath_,
                                             offer.fileSize, MakeReports(), lockstep_);
    return true;
}

bool FileTransfers::StartSending(const FilePacket& offer, const std::string& recipientAddress,
                                 const std::string& path) {
    if (worker_)
        return false;
    view_.Starting(path);
    receiving_ = false;
    if (!Fits(offer.fileSize))
        return false;
    chunks_ = ChunkCount(offer.fileSize);
    view_.OpenProgress(FileLine(FromGbk(offer.fileName), offer.fileSize), chunks_, offer.fileSize);
    worker_ = std::make_unique<CTransFileTread>(recipientAddress, port_, path, offer.fileSize,
                                                MakeReports(), lockstep_);
    return true;
}

void FileTransfers::OnProgress(std::uint32_t chunk, std::uint32_t chunks) {
    if (!worker_ || chunks == 0)
        return;
    view_.ShowProgress(chunk, chunks, chunk * 100.0 / chunks);
    // The view may have ended everything meanwhile.
    if (worker_)
        worker_->Shown(chunk);
}

void FileTransfers::OnEnded(TransferOutcome outcome) {
    if (worker_)
        Finish(outcome);
}

void FileTransfers::Finish(TransferOutcome outcome) {
    std::string error;
    if (worker_) {
        worker_->Join();
        error = worker_->Error();
        worker_.reset(); // closes the socket and the file
    }
    ++generation_;
    view_.CloseProgress();
    Prompter& prompter = prompter_;
    switch (outcome) {
    case TransferOutcome::Done:
        if (receiving_)
            SaveReceived();
        else if (chunks_ > 0)
            prompter.Inform(Notice::TransferSent, "", "文件传输完毕!", BoxIcon::None);
        break;
    case TransferOutcome::PeerGaveUp:
        prompter.Inform(Notice::PeerGaveUp, "",
                        receiving_ ? "对方已经终止传输." : "对方已经中断了传输.", BoxIcon::None);
        break;
    case TransferOutcome::OwnGaveUp:
        break;
    case TransferOutcome::CannotConnect:
        prompter.Inform(Notice::Failed, SOCKET_CAPTION, CONNECT_FAILED, BoxIcon::Information);
        break;
    case TransferOutcome::CannotReadFile:
    case TransferOutcome::CannotStore:
        prompter.Inform(Notice::Failed, "", error, BoxIcon::Information);
        break;
    }
    RemoveReceived();
    ReportEnded();
}

void FileTransfers::SaveReceived() {
    Prompter& prompter = prompter_;
    prompter.Inform(Notice::TransferStored, "", "文件传输完毕! 请选择保存路径.", BoxIcon::None);
    const std::string name = FromGbk(receivedName_);
    // The file is thrown away only when the user says so: a cancelled dialog, or a place the
    // file cannot be saved at, asks, and No opens the dialog again.
    for (;;) {
        const std::optional<std::string> path =
            prompter.ChooseSaveFile({DefaultExtension(name), name, FILTER});
        if (path) {
            const FileResult moved = MoveInto(receivedPath_, *path);
            if (moved.ok) {
                receivedPath_.clear();
                view_.Saved(*path);
                return;
            }
            prompter.Inform(Notice::Failed, "", moved.error, BoxIcon::Information);
        }
        if (prompter.Ask(Question::DiscardReceived, "", "放弃已接收的文件?", BoxButtons::YesNo,
                         BoxIcon::Question) == BoxAnswer::Yes)
            return;
    }
}

void FileTransfers::RemoveReceived() {
    if (receivedPath_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove(receivedPath_, ignored);
    receivedPath_.clear();
}

} // namespace kolvena
