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
    void StartConnect(JoinMode, AddressCode, const std::string&) override {}
    bool Shutdown() override { return false; }
    void Send(std::size_t, std::string_view) override {}
    void Broadcast(std::string_view) override {}
    void CloseSlot(std::size_t) override {}
    std::string AddressText(std::size_t) const override { return {}; }
    std::uint16_t OwnPort() const override { return SESSION_PORT; }
    std::size_t SlotCount() const override { return 0; }
    AddressCode Code() const override { return 0; }
    bool IsServing() const override { return false; }
    bool Accepting() const override { return false; }
    void SetAccepting(bool) override {}
    std::size_t PendingCount() const override { return 0; }
    std::size_t SlotOf(ConnectionId) const override { return 0; }
    std::size_t Promote(ConnectionId) override { return 0; }
};

class OfflineTransfers final : public TransferStarter {
public:
    void StartReceiving(const FilePacket&) override {}
    void StartSending(const FilePacket&, const std::string&) override {}
};

} // namespace kolvena
