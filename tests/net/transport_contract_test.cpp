// The fake endpoint the handler tests run on must keep the real link's slot rules, or a handler
// that sends to the wrong slot passes its tests. The same case runs against both.

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "net_test_support.h"
#include "support/core_fakes.h"

namespace kolvena::test {
namespace {

// An endpoint, fake or real, with three connections waiting for their Login.
struct Rig {
    explicit Rig(bool real) {
        if (!real) {
            for (ConnectionId& id : ids)
                id = fake.Connect("127.0.0.1");
            return;
        }
        host = std::make_unique<LinkEnd>();
        host->events.promoteOnLogin = false;
        host->events.closeOnLeave = false;
        EXPECT_TRUE(host->link->Serve());
        // Each peer names itself by a Login the host does not act on.
        for (std::size_t k = 0; k < ids.size(); ++k) {
            peers[k] = RawSocket::Connect(host->link->OwnPort());
            EXPECT_TRUE(peers[k].Send(BuildLogin("x")));
            EXPECT_TRUE(WaitFor([&] { return host->events.hostPackets.size() == k + 1; }));
            ids[k] = host->events.hostPackets.back().first;
        }
    }
    Transport& Link() { return host ? static_cast<Transport&>(*host->link) : fake; }
    // Everything connection k has received, once `bytes` have arrived (bounded wait).
    std::string Received(std::size_t k, std::size_t bytes) {
        std::string out;
        for (const FakeTransport::Sent& sent : fake.sent)
            if (sent.connection == ids[k])
                out += sent.packet;
        if (host)
            WaitFor([&] { return peers[k].ReceiveSome(out, 0ms) && out.size() >= bytes; }, 1000ms);
        return out;
    }

    FakeTransport fake;
    std::unique_ptr<LinkEnd> host;
    std::array<RawSocket, 3> peers;
    std::array<ConnectionId, 3> ids{};
};

class TransportContract : public ::testing::TestWithParam<bool> {};

TEST_P(TransportContract, SlotsFollowLoginsAndMoveDownWhenOneCloses) {
    Rig rig(GetParam());
    Transport& link = rig.Link();
    const auto [a, b, c] = rig.ids;
    const auto SlotsNow = [&] {
        return std::vector{link.SlotOf(a), link.SlotOf(b), link.SlotOf(c)};
    };
    EXPECT_EQ(link.PendingCount(), 3u);
    EXPECT_EQ(SlotsNow(), std::vector<std::optional<MemberSlot>>(3));

    // Slots follow the order of the Logins, not of the connections; a second Login keeps the slot.
    EXPECT_EQ((std::vector{link.Promote(c), link.Promote(a), link.Promote(b), link.Promote(a)}),
              (std::vector{MemberSlot(1), MemberSlot(2), MemberSlot(3), MemberSlot(2)}));
    EXPECT_EQ(link.PendingCount(), 0u);
    EXPECT_EQ(link.AddressText(MemberSlot(2)), "127.0.0.1");

    const std::string one = BuildMemberLeft(1), two = BuildMemberLeft(2),
                      three = BuildMemberLeft(3);
    link.Send(MemberSlot(2), one);
    link.Broadcast(two);
    link.CloseSlot(MemberSlot(1));
    EXPECT_EQ(SlotsNow(),
              (std::vector<std::optional<MemberSlot>>{MemberSlot(1), MemberSlot(2), {}}));
    EXPECT_EQ(link.SlotCount(), 2u);
    link.Send(MemberSlot(2), three);

    EXPECT_EQ(rig.Received(0, 6), one + two);
    EXPECT_EQ(rig.Received(1, 6), two + three);
    EXPECT_EQ(rig.Received(2, 3), two);
}

INSTANTIATE_TEST_SUITE_P(FakeAndReal, TransportContract, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Real" : "Fake"; });

} // namespace
} // namespace kolvena::test
