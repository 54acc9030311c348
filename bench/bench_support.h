#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/assembler.h"
#include "support/child_process.h"

namespace kolvena::bench {

using test::ChildOptions;
using test::ChildProcess;
using test::FreePort;

// A connection to 127.0.0.1:port, non-blocking and without Nagle's delay; -1 when it is refused.
// From the own address `source` (a loopback address) when given; with wait false the connect
// itself does not wait either, and its failure shows on the socket.
int ConnectTo(std::uint16_t port, const char* source = nullptr, bool wait = true);

// Reads the connection of a member that has sent its Login until the host's Welcome arrives:
// the own BuddyID it gives, or nothing when none came by the deadline.
std::optional<std::uint16_t> AwaitWelcome(int fd, PacketAssembler& assembler,
                                          std::chrono::steady_clock::time_point deadline);

// The value below which the fraction p of the values lie (they are reordered).
double Percentile(std::vector<double>& values, double p);

// What one load brought: every line's latency from its send until every member had it, and
// what went missing, came twice or out of order.
struct LoadResult {
    std::int64_t sent = 0, completed = 0, deliveries = 0;
    std::int64_t lost = 0, reordered = 0, duplicated = 0;
    double seconds = 0;            // from the first send until the last delivery (or the deadline)
    std::vector<double> latencies; // milliseconds
};

// Members of one host, all in this process on loopback: each sends chat lines and checks that
// it receives every member's lines once and in order.
class LoadGenerator {
public:
    LoadGenerator() = default;
    LoadGenerator(const LoadGenerator&) = delete;
    LoadGenerator& operator=(const LoadGenerator&) = delete;
    ~LoadGenerator() { Close(); }

    // Members log in one after the other, each waiting for its Welcome; the reason on failure.
    std::string Join(std::uint16_t port, int members);
    // Every member sends `rate` lines a second for `seconds`, round robin.
    LoadResult Steady(double rate, double seconds);
    // Every member sends `lines` lines as fast as the connections take them.
    LoadResult Burst(int lines);
    void Close();

private:
    struct Member {
        int fd = -1;
        PacketAssembler assembler{Side::Client};
        std::uint16_t buddyId = 0;
        bool welcomed = false;
        std::string outgoing;
        std::vector<std::int64_t> lastSeen; // per sender index: the last sequence number seen
    };
    struct Line {
        std::chrono::steady_clock::time_point sent;
        int deliveries = 0;
    };
    // Sends the lines `due(elapsed seconds)` says are due until `total` are out and delivered.
    LoadResult Run(std::int64_t total, double drainSeconds,
                   const std::function<std::int64_t(double)>& due);
    static void Flush(Member& m);

    std::vector<Member> members_;
    std::vector<int> senderOf_;            // buddy id -> member index
    std::vector<std::vector<Line>> lines_; // per member, every line it sent
};

} // namespace kolvena::bench
