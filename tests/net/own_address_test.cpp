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

std::string IpTool() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

// A network namespace of the test's own, removed (with its interfaces) however the test ends.
class Namespace {
public:
    explicit Namespace(std::string ip)
        : ip_(std::move(ip)), name_("kolvena-test-" + std::to_string(::getpid())) {
        created_ = Ip({"netns", "add", name_});
    }
    ~Namespace() {
        if (created_)
            Ip({"netns", "del", name_});
    }
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    bool Created() const { return created_; }
    // "ip -n NAME ARGS..." inside it; whether it succeeded.
    bool In(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"-n", name_});
        return Ip(arguments);
    }
    // This test binary, run inside the namespace on the one test, with the environment entry.
    int RunHere(const std::string& test, const std::string& environment, std::string& output) {
        ChildOptions options;
        options.environment = {environment};
        ChildProcess child(ip_,
                           {"netns", "exec", name_,
                            std::filesystem::read_symlink("/proc/self/exe").string(),
                            "--gtest_filter=" + test},
                           options);
        const int code = child.WaitForExit(30s);
        output = child.Output();
        return code;
    }

private:
    bool Ip(const std::vector<std::string>& arguments) {
        ChildProcess ip(ip_, arguments);
        const bool ok = ip.WaitForExit(10s) == 0;
        if (!ok)
            ADD_FAILURE() << "ip failed: " << ip.Output();
        return ok;
    }

    std::string ip_;
    std::string name_;
    bool created_ = false;
};

// The address a host announces must reach it from the network: never a loopback address while
// another IPv4 address is up, nor the address of an interface that is down.
TEST(OwnAddress, IsTheAddressOfAnInterfaceThatIsUpNotLoopback) {
    if (const char* expected = std::getenv(kExpectedAddress)) {
        EXPECT_EQ(DiscoverOwnAddress(), expected);
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a network namespace";
    const std::string ip = IpTool();
    if (ip.empty())
        GTEST_SKIP() << "needs the ip tool";

    Namespace ns(ip);
    ASSERT_TRUE(ns.Created());
    // Loopback up; first (lower interface index) a pair that is down but has an address, then
    // one that is up.
    ASSERT_TRUE(ns.In({"link", "set", "lo", "up"}));
    ASSERT_TRUE(ns.In({"link", "add", "kvdown0", "type", "veth", "peer", "name", "kvdown1"}));
    ASSERT_TRUE(ns.In({"addr", "add", "198.18.1.1/24", "dev", "kvdown0"}));
    ASSERT_TRUE(ns.In({"link", "add", "kvup0", "type", "veth", "peer", "name", "kvup1"}));
    ASSERT_TRUE(ns.In({"addr", "add", "198.18.0.1/24", "dev", "kvup0"}));
    ASSERT_TRUE(ns.In({"link", "set", "kvup0", "up"}));
    ASSERT_TRUE(ns.In({"link", "set", "kvup1", "up"}));

    std::string output;
    EXPECT_EQ(ns.RunHere("OwnAddress.*", std::string(kExpectedAddress) + "=198.18.0.1", output), 0)
        << output;
}

} // namespace
} // namespace kolvena::test
