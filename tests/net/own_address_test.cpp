#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "net/session_link.h"
#include "support/child_process.h"

namespace kolvena::test {
namespace {

using namespace std::chrono_literals;

// Set in the copy of this test that runs inside the namespace: the address it must find.
constexpr char kExpectedAddress[] = "KOLVENA_TEST_OWN_ADDRESS";

// A network namespace of the test's own, removed (with its interfaces) however the test ends.
struct Namespace {
    ~Namespace() {
        if (created)
            Ip({"netns", "del", name});
    }
    bool Ip(const std::vector<std::string>& arguments, const ChildOptions& options = {}) const {
        ChildProcess child(ip, arguments, options);
        const int code = child.WaitForExit(30s);
        EXPECT_EQ(code, 0) << child.Output();
        return code == 0;
    }

    std::string ip;
    std::string name = "kolvena-test-" + std::to_string(::getpid());
    bool created = Ip({"netns", "add", name});
};

// The address a host announces must reach it from the network: never a loopback address while
// another IPv4 address is up, nor the address of an interface that is down.
TEST(OwnAddress, IsTheAddressOfAnInterfaceThatIsUpNotLoopback) {
    if (const char* expected = std::getenv(kExpectedAddress)) {
        EXPECT_EQ(DiscoverOwnAddress(), expected);
        return;
    }
    std::string ip;
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (ip.empty() && ::access(path, X_OK) == 0)
            ip = path;
    // The suite runs as root, as in CI, with iproute2, which scripts/test installs.
    ASSERT_TRUE(::geteuid() == 0 && !ip.empty())
        << "making a network namespace needs root and the ip tool";

    const Namespace ns{ip};
    ASSERT_TRUE(ns.created);
    // Loopback up; first (lower interface index) a pair that is down but has an address, then
    // one that is up.
    for (std::vector<std::string> command : std::vector<std::vector<std::string>>{
             {"link", "set", "lo", "up"},
             {"link", "add", "kvdown0", "type", "veth", "peer", "name", "kvdown1"},
             {"addr", "add", "198.18.1.1/24", "dev", "kvdown0"},
             {"link", "add", "kvup0", "type", "veth", "peer", "name", "kvup1"},
             {"addr", "add", "198.18.0.1/24", "dev", "kvup0"},
             {"link", "set", "kvup0", "up"},
             {"link", "set", "kvup1", "up"}}) {
        command.insert(command.begin(), {"-n", ns.name});
        ASSERT_TRUE(ns.Ip(command));
    }
    ChildOptions here;
    here.environment = {std::string(kExpectedAddress) + "=198.18.0.1"};
    EXPECT_TRUE(ns.Ip({"netns", "exec", ns.name, std::filesystem::read_symlink("/proc/self/exe"),
                       "--gtest_filter=OwnAddress.*"},
                      here));
}

} // namespace
} // namespace kolvena::test
