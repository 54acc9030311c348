#include "file_transfers.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "record/record_files.h"
#include "session/gbk.h"
#include "transfer_files.h"
#include "transfer_worker.h"

namespace kolvena {

namespace {

constexpr const char* kSocketCaption = "Kolvena";
constexpr const char* kConnectFailed = "与会话主机连接没有成功，请重新连接。";
constexpr const char* kFilter = "All files (*.*) | *.* ||";

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

// The offer command's read failure, whose reason it hands on in errno. It goes when the command
// reads the size with ReadFileSize instead.
FileResult CannotRead(const std::string& path) {
    return ::kolvena::CannotRead(path, LastSystemError());
}

} // namespace

FileTransfers::FileTransfers(SessionCore& core, TransferView& view, std::uint16_t port)
    : core_(core), view_(view), port_(port) {}

// The core may already be gone: only the worker and the temporary file are ours to end.
FileTransfers::~FileTransfers() {
    if (worker_)
        worker_->Halt();
    worker_.reset();
    RemoveReceived();
}

void FileTransfers::Offer() {
    Session& session = core_.session;
    Prompter& prompter = core_.prompter;
    if (core_.recorder.state != ReplayState::NoReplay) {
        prompter.Inform("无法传输文件", "你目前未进入会话.", BoxIcon::None);
        return;
    }
    const std::uint16_t target = session.target;
    if (target == 0 || target == session.GetSelfIndex() || session.CheckBuddyIndex(target) == 0) {
        prompter.Inform("无法传输文件", "传输文件目标不正确.", BoxIcon::None);
        return;
    }
    if (core_.transferBusy || Running()) {
        prompter.Inform("Kolvena v1.0", "目前正在进行文件传输.", BoxIcon::None);
        return;
    }
    const std::optional<std::string> path = prompter.ChooseOpenFile({"*", "*.*", kFilter});
    if (!path)
        return;

    std::ifstream in;
    if (const FileResult opened = OpenForReading(*path, in); !opened.ok) {
        prompter.Inform("", opened.error, BoxIcon::Information);
        return;
    }
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(*path, ec);
    if (ec) {
        errno = ec.value();
        prompter.Inform("", CannotRead(*path).error, BoxIcon::Information);
        return;
    }
    if (!Fits(size))
        return;
    // The target may have left while the dialog was open.
    if (session.target != target || session.CheckBuddyIndex(target) == 0 || !session.inSession) {
        prompter.Inform("无法传输文件", "传输文件目标不正确.", BoxIcon::None);
        return;
    }

    // The name is kept as the offer carries it, so that the acceptance names the same file.
    const std::string name(
        GbkFit(ToGbk(std::filesystem::path(*path).filename().string()), MAX_FILE_NAME));
    session.transferPath = *path;
    session.transferName = name;
    session.transferSize = static_cast<std::uint32_t>(size);
    session.transferPeer = target;
    const FilePacket offer{session.GetSelfIndex(), target, name, session.transferSize};
    if (session.isHost)
        core_.transport.Send(target - 1u, BuildFile(PacketType::FileOffer, offer));
    else
        core_.transport.Send(0, BuildFile(PacketType::FileOfferToHost, offer));
}

bool FileTransfers::Fits(std::uint64_t size) {
    if (FitsTransfer(size))
        return true;
    core_.prompter.Inform("无法传输文件", "文件太大, 无法传输: 文件最大为 671078400 字节.",
                          BoxIcon::Information);
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

void FileTransfers::StartReceiving(const FilePacket& offer) {
    // The core starts one transfer at a time; a second start would take the running one's port.
    if (worker_)
        return;
    receiving_ = true;
    if (!Fits(offer.fileSize)) {
        core_.transferBusy = false;
        return;
    }
    // Listening before returning: the acceptance the core sends next must find the port open.
    const char* failure = nullptr;
    UniqueFd listening = ListenOn(port_, failure);
    if (!listening.Valid()) {
        core_.prompter.Inform(kSocketCaption, failure, BoxIcon::Information);
        core_.transferBusy = false;
        return;
    }
    RemoveReceived();
    UniqueFd file;
    if (const FileResult created = CreateReceivedFile(receivedPath_, file); !created.ok) {
        core_.prompter.Inform("", created.error, BoxIcon::Information);
        receivedPath_.clear();
        core_.transferBusy = false;
        return;
    }
    receivedName_ = SafeFileName(offer.fileName);
    chunks_ = ChunkCount(offer.fileSize);
    view_.OpenProgress(FileLine(FromGbk(offer.fileName), offer.fileSize), chunks_);
    worker_ =
        std::make_unique<CRecieveFileThread>(std::move(listening), std::move(file), receivedPath_,
                                             offer.fileSize, MakeReports(), lockstep_);
}

void FileTransfers::StartSending(const FilePacket& offer, const std::string& recipientAddress) {
    if (worker_)
        return;
    receiving_ = false;
    if (!Fits(offer.fileSize)) {
        core_.transferBusy = false;
        return;
    }
    chunks_ = ChunkCount(offer.fileSize);
    view_.OpenProgress(FileLine(FromGbk(offer.fileName), offer.fileSize), chunks_);
    worker_ = std::make_unique<CTransFileTread>(recipientAddress, port_, core_.session.transferPath,
                                                offer.fileSize, MakeReports(), lockstep_);
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
    Prompter& prompter = core_.prompter;
    switch (outcome) {
    case TransferOutcome::Done:
        if (receiving_)
            SaveReceived();
        else if (chunks_ > 0)
            prompter.Inform("", "文件传输完毕!", BoxIcon::None);
        break;
    case TransferOutcome::PeerGaveUp:
        prompter.Inform("", receiving_ ? "对方已经终止传输." : "对方已经中断了传输.",
                        BoxIcon::None);
        break;
    case TransferOutcome::OwnGaveUp:
        break;
    case TransferOutcome::CannotConnect:
        prompter.Inform(kSocketCaption, kConnectFailed, BoxIcon::Information);
        break;
    case TransferOutcome::CannotReadFile:
    case TransferOutcome::CannotStore:
        prompter.Inform("", error, BoxIcon::Information);
        break;
    }
    RemoveReceived();
    core_.transferBusy = false;
}

void FileTransfers::SaveReceived() {
    Prompter& prompter = core_.prompter;
    prompter.Inform("", "文件传输完毕! 请选择保存路径.", BoxIcon::None);
    const std::string name = FromGbk(receivedName_);
    const std::optional<std::string> path =
        prompter.ChooseSaveFile({DefaultExtension(name), name, kFilter});
    if (!path)
        return;
    const FileResult moved = MoveInto(receivedPath_, *path);
    if (moved.ok)
        receivedPath_.clear();
    else
        prompter.Inform("", moved.error, BoxIcon::Information);
}

void FileTransfers::RemoveReceived() {
    if (receivedPath_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove(receivedPath_, ignored);
    receivedPath_.clear();
}

} // namespace kolvena
