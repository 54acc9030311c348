// Search benchmark: many hosting kolvena-peer processes on loopback, each on its own port, and
// one search (the program's own, in this process) that asks them all at once. Prints how long
// until the last answer arrived and fails unless every host was found within the wait. Then
// measures one host's CPU time per 1,000 queries: answered ones (from many sources, paced
// within the answering limits) and a flood from one source (nearly all dropped).
//
//   search_bench [--hosts 50] [--wait 1000] [--queries 1000] [--flood 100000]

#include <QCoreApplication>
#include <QEventLoop>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "net/session_search.h"
#include "protocol/search_datagrams.h"

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// CPU time of every thread of the process, in nanoseconds (the scheduler's own count).
double CpuNs(pid_t pid) {
    double total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream stat(task.path() / "schedstat");
        double ns = 0;
        if (stat >> ns)
            total += ns;
    }
    return total;
}

// A UDP socket bound to a loopback address of its own (all of 127/8 is loopback).
int UdpFrom(std::uint32_t hostOrder) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(hostOrder);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendTo(int fd, const std::string& bytes, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// Answers waiting on the sockets, read until none has come for the quiet time.
std::size_t Drain(const std::vector<int>& fds, std::chrono::milliseconds quiet) {
    std::vector<pollfd> polls;
    for (int fd : fds)
        polls.push_back({fd, POLLIN, 0});
    std::size_t answers = 0;
    char buffer[256];
    while (::poll(polls.data(), polls.size(), static_cast<int>(quiet.count())) > 0)
        for (pollfd& p : polls)
            if (p.revents & POLLIN)
                answers += ::recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0;
    return answers;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int hostCount = 50, waitMs = 1000, queries = 1000, flood = 100000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (flag == "--hosts")
            hostCount = value;
        else if (flag == "--wait")
            waitMs = value;
        else if (flag == "--queries")
            queries = value;
        else if (flag == "--flood")
            flood = value;
    }
    if (hostCount < 1 || hostCount > 500 || waitMs < 1 || queries < 1 || flood < 1) {
        std::fprintf(stderr, "search_bench: bad arguments\n");
        return 2;
    }

    std::set<std::uint16_t> ports;
    for (int tries = 0; static_cast<int>(ports.size()) < hostCount && tries < hostCount * 10;
         ++tries)
        ports.insert(kolvena::bench::FreePort());
    std::vector<std::unique_ptr<kolvena::bench::ChildProcess>> hosts;
    for (const std::uint16_t port : ports) {
        const std::string n = std::to_string(hosts.size() + 1);
        hosts.push_back(std::make_unique<kolvena::bench::ChildProcess>(
            KOLVENA_PEER_PATH,
            std::vector<std::string>{"host", "--bind", "127.0.0.1", "--own-address", "127.0.0.1",
                                     "--port", std::to_string(port), "--name", "组长" + n,
                                     "--topic", "会话" + n}));
    }
    for (auto& host : hosts)
        if (!host->WaitForLine("等待客人登陆中", 20s)) {
            std::fprintf(stderr, "search_bench: a host did not start:\n%s\n",
                         host->Output().c_str());
            return 1;
        }

    kolvena::SessionSearch search;
    kolvena::SearchOptions options;
    options.ports.assign(ports.begin(), ports.end());
    options.addresses = {"127.0.0.1"};
    options.broadcast = false;
    options.wait = std::chrono::milliseconds(waitMs);
    SteadyClock::duration last{};
    const auto start = SteadyClock::now();
    search.OnFound([&](std::size_t, bool) { last = SteadyClock::now() - start; });
    QEventLoop loop;
    search.OnFinished([&] { loop.quit(); });
    if (!search.Start(options)) {
        std::fprintf(stderr, "search_bench: no UDP socket\n");
        return 1;
    }
    loop.exec();
    const std::size_t found = search.Results().size();
    std::printf("hosts: %zu, found: %zu within %d ms, last answer after %.2f ms\n", hosts.size(),
                found, waitMs, std::chrono::duration<double, std::milli>(last).count());

    // One host's CPU: queries from 250 loopback sources, paced at 150 a second so that every one
    // is answered, then a flood from one source at a rate the host keeps up with. The host's
    // own idle cost over as long a time is measured first and taken off.
    const pid_t pid = hosts.front()->Pid();
    const std::uint16_t port = *ports.begin();
    const std::string query = kolvena::BuildSearchQuery(1);
    std::vector<int> sources;
    for (std::uint32_t i = 0; i < 250; ++i)
        if (const int fd = UdpFrom(0x7F000002u + i); fd >= 0)
            sources.push_back(fd);
    const auto pacing = 1000ms / 150;
    double before = CpuNs(pid);
    std::this_thread::sleep_for(pacing * queries);
    const double idlePerNs =
        (CpuNs(pid) - before) / std::chrono::nanoseconds(pacing * queries).count();

    before = CpuNs(pid);
    auto began = SteadyClock::now();
    for (int i = 0; i < queries; ++i) {
        std::this_thread::sleep_until(began + i * pacing);
        SendTo(sources[static_cast<std::size_t>(i) % sources.size()], query, port);
    }
    const std::size_t answered = Drain(sources, 300ms);
    const double pacedCpu =
        CpuNs(pid) - before -
        idlePerNs * std::chrono::nanoseconds(SteadyClock::now() - began).count();

    const int one = UdpFrom(0x7F000001u);
    constexpr int FLOOD_RATE = 20000; // a second
    before = CpuNs(pid);
    began = SteadyClock::now();
    for (int i = 0; i < flood; ++i) {
        if (i % 20 == 0)
            std::this_thread::sleep_until(began + i * 1000000us / FLOOD_RATE);
        SendTo(one, query, port);
    }
    const std::size_t floodAnswers = Drain({one}, 300ms);
    const double floodCpu =
        CpuNs(pid) - before -
        idlePerNs * std::chrono::nanoseconds(SteadyClock::now() - began).count();
    std::printf(
        "host CPU per 1,000 queries: %.2f ms answered (%zu of %d answered, paced at 150/s), "
        "%.2f ms in a flood from one source (%zu of %d answered, %d/s); idle %.3f%% of a core\n",
        pacedCpu / 1e6 * 1000 / queries, answered, queries, floodCpu / 1e6 * 1000 / flood,
        floodAnswers, flood, FLOOD_RATE, idlePerNs * 100);
    for (int fd : sources)
        ::close(fd);
    ::close(one);
    for (auto& host : hosts)
        host->Finish(5s);
    return found == hosts.size() ? 0 : 1;
}
