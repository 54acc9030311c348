// The fake endpoint the handler tests run on must keep the real link's slot rules, or a handler
// that sends to the wrong slot passes its tests. The same cases run against both.

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "net_test_support.h"
#include "protocol/packets.h"
#include "support/core_fakes.h"

namespace kolvena::test {
namespace {

constexpr int CONNECTIONS = 3;

// An endpoint with three connections waiting for their Login, and what each has received.
class Rig {
public:
    virtual ~Rig() = default;
    virtual Transport& Link() = 0;
    virtual ConnectionId Id(int k) = 0;
    // Everything connection k has received so far, once `bytes` have arrived (bounded wait).
    virtual std::string Received(int k, std::size_t bytes) = 0;
};

class FakeRig final : public Rig {
public:
    FakeRig() {
        for (ConnectionId& id : ids_)
            id = fake_.Connect("127.0.0.1");
    }
    Transport& Link() override { return fake_; }
    ConnectionId Id(int k) override { return ids_[k]; }
    std::string Received(int k, std::size_t) override {
        std::string bytes;
        for (const FakeTransport::Sent& sent : fake_.sent)
            if (sent.connection == ids_[k])
                bytes += sent.packet;
        return bytes;
    }

private:
    FakeTransport fake_;
    std::array<ConnectionId, CONNECTIONS> ids_{};
};

class RealRig final : public Rig {
public:
    RealRig() : host_(LoopbackOptions()) {
        host_.events.promoteOnLogin = false;
        host_.events.closeOnLeave = false;
        EXPECT_TRUE(host_.link->Init());
        EXPECT_TRUE(host_.link->Serve());
        // Each peer names itself by a Login the host does not act on, so that its connection
        // id is known.
        for (int k = 0; k < CONNECTIONS; ++k) {
            EXPECT_TRUE(peers_[k].Connect(host_.link->OwnPort()));
            peers_[k].Write(BuildLogin(std::string(1, static_cast<char>('a' + k))));
        }
        EXPECT_TRUE(WaitFor([&] { return host_.events.hostPackets.size() == CONNECTIONS; }));
        for (const auto& [id, packet] : host_.events.hostPackets)
            if (const auto login = ReadLogin(packet); login && login->name.size() == 1)
                ids_[login->name[0] - 'a'] = id;
    }
    Transport& Link() override { return *host_.link; }
    ConnectionId Id(int k) override { return ids_[k]; }
    std::string Received(int k, std::size_t bytes) override {
        WaitFor([&] { return peers_[k].Received().size() >= bytes; }, 1000ms);
        return peers_[k].Received();
    }

private:
    LinkEnd host_;
    std::array<RawPeer, CONNECTIONS> peers_;
    std::array<ConnectionId, CONNECTIONS> ids_{};
};

class TransportContract : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<Rig> rig = GetParam() ? std::unique_ptr<Rig>(std::make_unique<RealRig>())
                                          : std::make_unique<FakeRig>();
};

TEST_P(TransportContract, SlotsFollowLoginsAndMoveDownWhenOneCloses) {
    Transport& link = rig->Link();
    const ConnectionId a = rig->Id(0), b = rig->Id(1), c = rig->Id(2);
    EXPECT_EQ(link.PendingCount(), 3u);
    EXPECT_EQ(link.SlotCount(), 0u);
    EXPECT_EQ(link.SlotOf(a), std::nullopt);

    // Slots follow the order of the Logins, not of the connections; a second Login keeps
    // the slot.
    EXPECT_EQ(link.Promote(c), MemberSlot(1));
    EXPECT_EQ(link.Promote(a), MemberSlot(2));
    EXPECT_EQ(link.Promote(b), MemberSlot(3));
    EXPECT_EQ(link.Promote(a), MemberSlot(2));
    EXPECT_EQ(link.PendingCount(), 0u);
    EXPECT_EQ(link.SlotCount(), 3u);
    EXPECT_EQ(link.AddressText(MemberSlot(2)), "127.0.0.1");

    const std::string one = BuildMemberLeft(1), two = BuildMemberLeft(2),
                      three = BuildMemberLeft(3);
    link.Send(MemberSlot(2), one);
    link.Broadcast(two);
    // The first member's slot closes: the later ones move down.
    link.CloseSlot(MemberSlot(1));
    EXPECT_EQ(link.SlotOf(c), std::nullopt);
    EXPECT_EQ(link.SlotOf(a), MemberSlot(1));
    EXPECT_EQ(link.SlotOf(b), MemberSlot(2));
    EXPECT_EQ(link.SlotCount(), 2u);
    link.Send(MemberSlot(2), three);

    EXPECT_EQ(rig->Received(0, 6), one + two);
    EXPECT_EQ(rig->Received(1, 6), two + three);
    EXPECT_EQ(rig->Received(2, 3), two);
}

INSTANTIATE_TEST_SUITE_P(FakeAndReal, TransportContract, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Real" : "Fake"; });

} // namespace
} // namespace kolvena::test
