#include "transfer_worker.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <vector>

#include "record/record_files.h"

namespace kolvena {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds REPORT_INTERVAL{100};
// A lockstep worker waits this long for each step to be shown before it goes on regardless.
constexpr milliseconds SHOWN_LIMIT{10000};

// Sends everything, in one call unless the system splits it. A peer that has gone must not
// kill the program with SIGPIPE.
bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool SendByte(int fd, std::uint8_t byte) {
    const char c = static_cast<char>(byte);
    return SendAll(fd, &c, 1);
}

// Every chunk and answer goes out at once (stop-and-wait traffic held back by Nagle's algorithm
// against the peer's delayed acknowledgement crawls), and a peer silent for the idle limit has
// gone: the socket's own time-outs bound each blocking call, so the stream needs no poll per
// chunk. Halt shuts the socket down to end a wait early.
void PrepareStream(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(TRANSFER_IDLE_LIMIT);
    const timeval limit{static_cast<time_t>(seconds.count()), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// Reads exactly size bytes at offset. On failure reason is the system's, or empty when the file
// has become shorter.
bool ReadAt(int fd, char* data, std::size_t size, std::uint64_t offset, std::error_code& reason) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            reason = LastSystemError();
            return false;
        }
        if (got == 0) {
            reason.clear();
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Writes everything; answers why not, or nothing.
std::error_code WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return LastSystemError();
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

} // namespace

// --- TransferWorker ---

TransferWorker::TransferWorker(WorkerReports reports, bool lockstep)
    : reports_(std::move(reports)), lockstep_(lockstep) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = UniqueFd(fds[0]);
        wakeWrite_ = UniqueFd(fds[1]);
    }
}

void TransferWorker::Launch() {
    thread_ = std::thread([this] {
        const TransferOutcome outcome = Run();
        if (!stop_)
            reports_.ended(outcome);
    });
}

void TransferWorker::Wake() {
    if (wakeWrite_.Valid()) {
        const char c = 0;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_.Get(), &c, 1);
    }
}

void TransferWorker::GiveUp() {
    giveUp_ = true;
    Wake();
}

void TransferWorker::Halt() {
    stop_ = true;
    Wake();
    // A send blocked on a full buffer wakes only when its socket is shut down.
    if (const int fd = connection_; fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    {
        std::lock_guard lock(shownMutex_);
        shownChanged_.notify_all();
    }
    Join();
}

void TransferWorker::Join() {
    if (thread_.joinable())
        thread_.join();
}

void TransferWorker::Shown(std::uint32_t chunk) {
    std::lock_guard lock(shownMutex_);
    shown_ = chunk;
    shownChanged_.notify_all();
}

TransferWorker::Wait TransferWorker::WaitFor(int fd, short events, milliseconds limit,
                                             bool giveUpEnds) {
    const SteadyClock::time_point deadline = SteadyClock::now() + limit;
    while (true) {
        if (stop_)
            return Wait::Stopped;
        if (giveUpEnds && giveUp_)
            return Wait::GaveUp;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return Wait::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {wakeRead_.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, wakeRead_.Valid() ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            return Wait::Ready; // the call on fd itself will tell what is wrong
        if (ready <= 0)
            continue;
        if (fds[1].revents != 0) {
            char drain[16];
            while (::read(wakeRead_.Get(), drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents != 0)
            return Wait::Ready;
    }
}

void TransferWorker::Report(std::uint32_t chunk, std::uint32_t chunks) {
    const SteadyClock::time_point now = SteadyClock::now();
    if (!lockstep_ && chunk != 1 && chunk != chunks && now - lastReport_ < REPORT_INTERVAL)
        return;
    lastReport_ = now;
    reports_.progress(chunk, chunks);
    if (!lockstep_)
        return;
    std::unique_lock lock(shownMutex_);
    shownChanged_.wait_for(lock, SHOWN_LIMIT, [&] { return shown_ >= chunk || stop_; });
}

// --- CTransFileTread ---

CTransFileTread::CTransFileTread(std::string address, std::uint16_t port, std::string path,
                                 std::uint64_t size, WorkerReports reports, bool lockstep)
    : TransferWorker(std::move(reports), lockstep), address_(std::move(address)), port_(port),
      path_(std::move(path)), size_(size) {
    Launch();
}

CTransFileTread::~CTransFileTread() {
    Halt();
}

TransferOutcome CTransFileTread::Connect() {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    if (::inet_pton(AF_INET, address_.c_str(), &to.sin_addr) != 1)
        return TransferOutcome::CannotConnect;
    socket_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket_.Valid())
        return TransferOutcome::CannotConnect;
    const int fd = socket_.Get();
    SetConnection(fd);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS)
            return TransferOutcome::CannotConnect;
        switch (WaitFor(fd, POLLOUT, TRANSFER_CONNECT_LIMIT, true)) {
        case Wait::Ready:
            break;
        case Wait::GaveUp:
        case Wait::Stopped:
            return TransferOutcome::OwnGaveUp;
        case Wait::TimedOut:
            return TransferOutcome::CannotConnect;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return TransferOutcome::CannotConnect;
    }
    // From here on the socket blocks, each call bounded by the idle limit.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    PrepareStream(fd);
    return TransferOutcome::Done;
}

TransferOutcome CTransFileTread::GiveUpBefore(std::uint32_t chunk) {
    const int fd = socket_.Get();
    // The give-up byte would pass for a last chunk of one byte; there the closed connection
    // alone says it.
    if (ChunkSizeAt(size_, chunk) != 1)
        SendByte(fd, SENDER_ABORT);
    ::shutdown(fd, SHUT_WR);
    // Lets the recipient read the byte before the connection goes: it closes as soon as it has.
    const SteadyClock::time_point deadline = SteadyClock::now() + TRANSFER_LINGER_LIMIT;
    char drain[64];
    while (SteadyClock::now() < deadline) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now());
        if (WaitFor(fd, POLLIN, left, false) != Wait::Ready ||
            ::recv(fd, drain, sizeof drain, 0) <= 0)
            break;
    }
    return TransferOutcome::OwnGaveUp;
}

TransferOutcome CTransFileTread::Run() {
    if (const TransferOutcome connected = Connect(); connected != TransferOutcome::Done)
        return connected;
    const int fd = socket_.Get();

    file_ = UniqueFd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file_.Valid()) {
        error_ = CannotOpen(path_, LastSystemError()).error;
        return TransferOutcome::CannotReadFile;
    }

    const std::uint32_t chunks = ChunkCount(size_);
    // One chunk is in flight at a time, so the time the answer takes is the stream's pace: the
    // next chunk is read from the file while the answer to this one is on its way.
    std::vector<char> chunk(CHUNK_SIZE);
    std::vector<char> next(CHUNK_SIZE);
    std::error_code readError;
    const auto read = [&](std::vector<char>& into, std::uint32_t index) {
        return ReadAt(file_.Get(), into.data(), ChunkSizeAt(size_, index),
                      std::uint64_t{index - 1} * CHUNK_SIZE, readError);
    };
    if (chunks > 0 && !read(chunk, 1)) {
        error_ = CannotRead(path_, readError).error;
        return TransferOutcome::CannotReadFile;
    }
    for (std::uint32_t i = 1; i <= chunks; ++i) {
        if (Stopping())
            return TransferOutcome::OwnGaveUp;
        if (GaveUp())
            return GiveUpBefore(i);
        if (!SendAll(fd, chunk.data(), ChunkSizeAt(size_, i)))
            return Stopping() ? TransferOutcome::OwnGaveUp : TransferOutcome::PeerGaveUp;
        const bool nextRead = i == chunks || read(next, i + 1);

        char answer = 0;
        ssize_t got;
        do
            got = ::recv(fd, &answer, 1, 0);
        while (got < 0 && errno == EINTR);
        // A recipient that closes or breaks the connection has gone as surely as one that
        // says so.
        if (got != 1 || static_cast<std::uint8_t>(answer) == ACK_ABORT)
            return Stopping() ? TransferOutcome::OwnGaveUp : TransferOutcome::PeerGaveUp;
        Report(i, chunks);
        if (!nextRead) {
            error_ = CannotRead(path_, readError).error;
            return TransferOutcome::CannotReadFile;
        }
        chunk.swap(next);
    }
    return TransferOutcome::Done;
}

// --- CRecieveFileThread ---

CRecieveFileThread::CRecieveFileThread(UniqueFd listening, UniqueFd file, std::string filePath,
                                       std::uint64_t size, WorkerReports reports, bool lockstep)
    : TransferWorker(std::move(reports), lockstep), listening_(std::move(listening)),
      file_(std::move(file)), filePath_(std::move(filePath)), size_(size) {
    Launch();
}

CRecieveFileThread::~CRecieveFileThread() {
    Halt();
}

bool CRecieveFileThread::Answer(std::uint8_t answer) {
    return SendByte(socket_.Get(), answer);
}

TransferOutcome CRecieveFileThread::Run() {
    // The offerer's one connection. Giving up while it has not come ends the wait.
    while (!socket_.Valid()) {
        switch (WaitFor(listening_.Get(), POLLIN, TRANSFER_ACCEPT_LIMIT, true)) {
        case Wait::Ready:
            break;
        case Wait::Stopped:
        case Wait::GaveUp:
            return TransferOutcome::OwnGaveUp;
        case Wait::TimedOut:
            return TransferOutcome::PeerGaveUp;
        }
        socket_ = UniqueFd(::accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!socket_.Valid() && errno != EINTR && errno != ECONNABORTED && errno != EAGAIN)
            return TransferOutcome::PeerGaveUp;
    }
    // Nobody else may connect in its place; the port is free again at once.
    listening_.Reset();
    const int fd = socket_.Get();
    SetConnection(fd);
    PrepareStream(fd);

    const std::uint32_t chunks = ChunkCount(size_);
    std::vector<char> chunk(CHUNK_SIZE);
    for (std::uint32_t i = 1; i <= chunks; ++i) {
        const std::uint32_t size = ChunkSizeAt(size_, i);
        // A chunk may come in several reads, and a read of one byte in the middle of it is
        // data. The offerer gives up with the single byte SENDER_ABORT where a chunk should
        // start and then closes the connection: that close, mid-chunk, is what ends the
        // transfer, so a chunk whose first read happens to be one byte is never mistaken.
        std::uint32_t got = 0;
        while (got < size) {
            const ssize_t read = ::recv(fd, chunk.data() + got, size - got, 0);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                return Stopping() ? TransferOutcome::OwnGaveUp : TransferOutcome::PeerGaveUp;
            got += static_cast<std::uint32_t>(read);
        }
        const auto store = [&] {
            const std::error_code reason = WriteAll(file_.Get(), chunk.data(), size);
            if (!reason)
                return true;
            error_ = CannotWrite(filePath_, reason).error;
            return false;
        };
        Report(i, chunks);
        if (Stopping())
            return TransferOutcome::OwnGaveUp;
        if (i == chunks) {
            // Done is said only of a file that is complete on disk.
            if (!store()) {
                Answer(ACK_ABORT);
                return TransferOutcome::CannotStore;
            }
            Answer(ACK_DONE);
            break;
        }
        if (GaveUp()) {
            Answer(ACK_ABORT);
            return TransferOutcome::OwnGaveUp;
        }
        if (!Answer(ACK_CHUNK))
            return TransferOutcome::PeerGaveUp;
        // Written while the offerer sends the next chunk; a failure ends the transfer, and the
        // offerer finds the connection gone.
        if (!store())
            return TransferOutcome::CannotStore;
    }
    return TransferOutcome::Done;
}

} // namespace kolvena
