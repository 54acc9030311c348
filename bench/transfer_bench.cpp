// File transfer benchmark: a 200 MB file goes from a leader to a member, two kolvena-peer
// processes on loopback, timed from the offer until the recipient prints the end of the
// transfer. For scale, the same stop-and-wait stream (10240-byte chunks, one answer byte each,
// TCP_NODELAY, one write per chunk) runs over plain sockets in this process. Prints both
// throughputs, their ratio and the recipient's peak resident memory.
//
//   transfer_bench [--megabytes 200]

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "transfer/transfer_stream.h"

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using kolvena::bench::FreePort;

namespace {

constexpr std::size_t CHUNK = kolvena::CHUNK_SIZE;
constexpr std::size_t MB = 1u << 20;
constexpr char ACK = static_cast<char>(kolvena::ACK_CHUNK);

// One peer process whose printed lines can be waited for; it is given ten seconds to quit.
class Peer : public kolvena::bench::ChildProcess {
public:
    explicit Peer(const std::vector<std::string>& arguments) {
        Start(KOLVENA_PEER_PATH, arguments);
    }
    ~Peer() { Finish(std::chrono::seconds(10)); }
    void Command(const std::string& line) { Write(line); }
    // The first line from now on that contains the text, or nothing within the timeout.
    std::string WaitFor(const std::string& text, std::chrono::seconds timeout) {
        return WaitForLine(text, timeout).value_or(std::string());
    }
};

// VmHWM of a process in kB, or -1.
long PeakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void WriteSource(const fs::path& path, std::size_t size) {
    std::vector<char> block(MB);
    std::uint32_t x = 2463534242u;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < size; written += block.size()) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min(block.size(), size - written)));
    }
}

bool SameFiles(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(MB), bb(MB);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() ||
            !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
    }
    return !fa && !fb;
}

void NoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The bare stream: one chunk in flight, each answered by one byte. Seconds taken, or -1.
double PlainStopAndWait(std::size_t size) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);

    std::thread receiver([listener, size] {
        const int fd = ::accept(listener, nullptr, nullptr);
        NoDelay(fd);
        std::vector<char> chunk(CHUNK);
        for (std::size_t done = 0; done < size;) {
            const std::size_t want = std::min(CHUNK, size - done);
            std::size_t got = 0;
            while (got < want) {
                const ssize_t n = ::recv(fd, chunk.data() + got, want - got, 0);
                if (n <= 0) {
                    ::close(fd);
                    return;
                }
                got += static_cast<std::size_t>(n);
            }
            done += want;
            ::send(fd, &ACK, 1, MSG_NOSIGNAL);
        }
        ::close(fd);
    });

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    NoDelay(fd);
    std::vector<char> chunk(CHUNK, 'x');
    const auto start = SteadyClock::now();
    bool ok = connected;
    for (std::size_t sent = 0; ok && sent < size;) {
        const std::size_t n = std::min(CHUNK, size - sent);
        char answer = 0;
        ok = ::send(fd, chunk.data(), n, MSG_NOSIGNAL) == static_cast<ssize_t>(n) &&
             ::recv(fd, &answer, 1, 0) == 1;
        sent += n;
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    ::close(fd);
    receiver.join();
    ::close(listener);
    return ok ? seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::size_t megabytes = 200;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--megabytes")
            megabytes = static_cast<std::size_t>(std::atol(argv[i + 1]));
    const std::size_t size = megabytes * MB;

    const fs::path dir =
        fs::temp_directory_path() / ("kolvena-transfer-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "received");
    const fs::path source = dir / "source.bin";
    WriteSource(source, size);

    const std::string port = std::to_string(FreePort());
    const std::string transferPort = std::to_string(FreePort());
    int result = 1;
    double peerSeconds = -1;
    long peakKb = -1;
    {
        Peer leader({"host", "--name", "sender", "--topic", "bench", "--port", port, "--bind",
                     "127.0.0.1", "--own-address", "127.0.0.1", "--transfer-port", transferPort});
        Peer member({"join", "--address", "127.0.0.1", "--port", port, "--name", "receiver",
                     "--own-address", "127.0.0.1", "--transfer-port", transferPort,
                     "--accept-files", (dir / "received").string()});
        if (member.WaitFor("receiver(您)", std::chrono::seconds(10)).empty()) {
            std::fprintf(stderr, "transfer_bench: the member did not join\n");
        } else {
            const auto start = SteadyClock::now();
            leader.Command("offer 2 " + source.string());
            const std::string end = member.WaitFor("transfer: ", std::chrono::seconds(600));
            peerSeconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
            peakKb = PeakKb(member.Pid());
            if (end != "transfer: done " + (dir / "received" / "source.bin").string())
                std::fprintf(stderr, "transfer_bench: the transfer ended with '%s'\n", end.c_str());
            else if (!SameFiles(source, dir / "received" / "source.bin"))
                std::fprintf(stderr, "transfer_bench: the received file differs\n");
            else
                result = 0;
        }
    }
    const double plainSeconds = PlainStopAndWait(size);
    fs::remove_all(dir);

    const double peerRate = result == 0 ? megabytes / peerSeconds : 0;
    const double plainRate = plainSeconds > 0 ? megabytes / plainSeconds : 0;
    std::printf("transfer benchmark: %zu MB (MiB) in %zu-byte chunks on loopback\n", megabytes,
                CHUNK);
    std::printf("kolvena-peer:        %.1f MB/s (%.2f s from offer to saved file)\n", peerRate,
                peerSeconds);
    std::printf("plain stop-and-wait: %.1f MB/s (%.2f s)\n", plainRate, plainSeconds);
    std::printf("ratio peer/plain:    %.2f\n", plainRate > 0 ? peerRate / plainRate : 0);
    std::printf("recipient VmHWM:     %.1f MB\n", peakKb / 1024.0);
    return result == 0 && plainSeconds > 0 ? 0 : 1;
}
