// Relay benchmark: one host (a kolvena-peer process) and many members in this process, all on
// loopback. Every member sends chat lines at a steady rate; every member receives every line.
// Prints lines relayed per second, deliveries per second and the latency from a member's send
// until every member has the line, and checks that nothing is lost, duplicated or reordered.
//
//   relay_bench [--members N] [--rate LINES_PER_MEMBER_PER_SECOND] [--seconds S] [--history DIR]
//
// With --history the host keeps the session in DIR as it happens, which costs it a safe rewrite
// of the whole recording every two seconds.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

using namespace kolvena;
using kolvena::bench::FreePort;

int main(int argc, char** argv) {
    int memberCount = 100;
    double rate = 20;
    double seconds = 10;
    std::string history;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--members")
            memberCount = std::atoi(argv[i + 1]);
        else if (flag == "--rate")
            rate = std::atof(argv[i + 1]);
        else if (flag == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (flag == "--history")
            history = argv[i + 1];
    }
    // A host admits at most 100 members besides its leader.
    if (memberCount < 1 || memberCount > 100) {
        std::fprintf(stderr, "relay_bench: --members takes 1 to 100\n");
        return 2;
    }

    const std::uint16_t port = FreePort();
    bench::ChildProcess host;
    bench::ChildOptions quiet;
    quiet.errorPath = "/dev/null";
    quiet.discardOutput = true;
    // clang-format off
    std::vector<std::string> hostArgs = {
        "host", "--name", "bench", "--topic", "bench", "--port", std::to_string(port), "--bind",
        "127.0.0.1", "--own-address", "127.0.0.1", "--max", std::to_string(memberCount)};
    // clang-format on
    if (!history.empty())
        hostArgs.insert(hostArgs.end(), {"--history", history});
    if (!host.Start(KOLVENA_PEER_PATH, hostArgs, quiet)) {
        std::fprintf(stderr, "relay_bench: cannot start the host\n");
        return 1;
    }

    bench::LoadGenerator load;
    if (const std::string failed = load.Join(port, memberCount); !failed.empty()) {
        std::fprintf(stderr, "relay_bench: %s\n", failed.c_str());
        return 1;
    }
    bench::LoadResult r = load.Steady(rate, seconds);

    std::printf("relay benchmark: %d members, %.1f lines/s each, %.1f s of load%s\n", memberCount,
                rate, seconds, history.empty() ? "" : ", history kept");
    std::printf("lines sent:          %lld\n", static_cast<long long>(r.sent));
    std::printf("lines relayed/s:     %.0f\n", static_cast<double>(r.completed) / seconds);
    std::printf("deliveries/s:        %.0f\n", static_cast<double>(r.deliveries) / seconds);
    std::printf("latency p50:         %.2f ms\n", bench::Percentile(r.latencies, 0.50));
    std::printf("latency p99:         %.2f ms\n", bench::Percentile(r.latencies, 0.99));
    std::printf("latency max:         %.2f ms\n", bench::Percentile(r.latencies, 1.0));
    std::printf("lost deliveries:     %lld\n", static_cast<long long>(r.lost));
    std::printf("reordered:           %lld\n", static_cast<long long>(r.reordered));
    std::printf("duplicated:          %lld\n", static_cast<long long>(r.duplicated));
    std::printf("wall time:           %.1f s\n", r.seconds);

    load.Close();
    host.Finish(std::chrono::seconds(10));
    return r.lost == 0 && r.reordered == 0 && r.duplicated == 0 ? 0 : 1;
}
