#pragma once

#include "transfer_starter.h"
#include "transport.h"

namespace kolvena {

// The endpoint and transfers of a core that never talks to anybody, as when a recording is
// replayed without a window: nothing connects, nothing is sent, nothing is transferred.
class OfflineTransport final : public Transport {
public:
    bool Init() override { return false; }
    bool Serve() override { return false; }
    void StartConnect(JoinMode, AddressCode, const std::string&, std::uint16_t) override {}
    bool Shutdown() override { return false; }
    void Send(MemberSlot, std::string_view) override {}
    void SendToHost(std::string_view) override {}
    void Broadcast(std::string_view) override {}
    void CloseSlot(MemberSlot) override {}
    std::string OwnAddressText() const override { return {}; }
    std::string AddressText(MemberSlot) const override { return {}; }
    std::uint16_t OwnPort() const override { return SESSION_PORT; }
    std::size_t SlotCount() const override { return 0; }
    AddressCode Code() const override { return 0; }
    bool IsServing() const override { return false; }
    bool Accepting() const override { return false; }
    void SetAccepting(bool) override {}
    std::size_t PendingCount() const override { return 0; }
    std::optional<MemberSlot> SlotOf(ConnectionId) const override { return std::nullopt; }
    MemberSlot Promote(ConnectionId) override { return MemberSlot(0); }
};

class OfflineTransfers final : public TransferStarter {
public:
    bool StartReceiving(const FilePacket&) override { return false; }
    bool StartSending(const FilePacket&, const std::string&, const std::string&) override {
        return false;
    }
};

} // namespace kolvena
