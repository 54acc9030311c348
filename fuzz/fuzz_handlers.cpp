// Feeds arbitrary byte streams through packet assemblers into the host handler (from three
// member connections, one of them still waiting for its Login) or, built with
// KOLVENA_FUZZ_HOST=0, into the client handler, with a prompter that answers every question both
// ways. Nothing may crash, and the host's roster must stay in step with its slots.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/assembler.h"
#include "protocol/packets.h"
#include "support/core_access.h"
#include "support/core_fakes.h"

#ifndef KOLVENA_FUZZ_HOST
#error "Build with KOLVENA_FUZZ_HOST=1 (host handler) or 0 (client handler)"
#endif

namespace kolvena {
namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// Feeds one connection's bytes and hands each packet on; a violation ends the connection.
template <typename Deliver>
bool Pump(PacketAssembler& assembler, std::string_view bytes, Deliver deliver) {
    assembler.Feed(bytes);
    for (;;) {
        auto result = assembler.Next();
        switch (result.status) {
        case PacketAssembler::Status::Packet:
            deliver(std::move(result.packet));
            break;
        case PacketAssembler::Status::Violation:
            return false;
        case PacketAssembler::Status::Discarded:
        case PacketAssembler::Status::NeedMore:
            return true;
        }
    }
}

[[maybe_unused]] void RunHost(std::string_view input) {
    test::FakeCore f;
    Session& s = test::SessionOf(f.core);
    f.transport.Serve();
    s.isHost = s.inSession = true;
    s.topic = "fuzz";
    s.AddBuddy(Buddy::Make("Ann", "192.168.0.7", BuddyRole::Leader));
    s.selfId = 1;
    f.core.OnConnectionPending();
    const ConnectionId bob = f.transport.Connect();
    f.core.OnHostPacket(bob, BuildLogin("Bob"));
    f.core.OnConnectionPending();
    const ConnectionId carol = f.transport.Connect();
    f.core.OnHostPacket(carol, BuildLogin("Carol"));
    f.core.OnConnectionPending();
    const ConnectionId waiting = f.transport.Connect();
    const ConnectionId connections[] = {bob, carol, waiting};
    PacketAssembler assemblers[] = {PacketAssembler(Side::Host), PacketAssembler(Side::Host),
                                    PacketAssembler(Side::Host)};

    // Each chunk: one byte picks the connection, the answer and the chunk's length.
    std::size_t pos = 0;
    while (pos < input.size()) {
        const auto control = static_cast<std::uint8_t>(input[pos++]);
        const std::size_t which = control % 3;
        f.prompter.answers = {(control & 0x10) ? BoxAnswer::Yes : BoxAnswer::No};
        const std::size_t length = std::min<std::size_t>(input.size() - pos, 1 + (control >> 3));
        const std::string_view chunk = input.substr(pos, length);
        pos += length;
        const ConnectionId id = connections[which];
        const bool ok = Pump(assemblers[which], chunk, [&](std::string packet) {
            f.core.OnHostPacket(id, std::move(packet));
        });
        if (!ok)
            f.core.OnMemberLeave(id);
        // Slot k belongs to ActiveIndex k + 1.
        Check(f.transport.SlotCount() + 1 == s.GetBuddyCount());
    }
}

[[maybe_unused]] void RunClient(std::string_view input) {
    test::FakeCore f;
    test::SessionOf(f.core).inSession = true;
    PacketAssembler assembler(Side::Client);
    std::size_t pos = 0;
    while (pos < input.size()) {
        const auto control = static_cast<std::uint8_t>(input[pos++]);
        f.prompter.answers = {(control & 0x01) ? BoxAnswer::Yes : BoxAnswer::No};
        const std::size_t length = std::min<std::size_t>(input.size() - pos, 1 + (control >> 1));
        const bool ok = Pump(assembler, input.substr(pos, length),
                             [&](std::string packet) { f.core.OnClientPacket(std::move(packet)); });
        pos += length;
        if (!ok) {
            f.core.OnHostGone();
            return;
        }
        if (test::CoreAccess::Client(f.core).Welcomed())
            Check(f.core.session().selfId.value >= 1 &&
                  f.core.session().selfId.value <= f.core.session().roster.size());
    }
}

} // namespace
} // namespace kolvena

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
#if KOLVENA_FUZZ_HOST
    kolvena::RunHost(input);
#else
    kolvena::RunClient(input);
#endif
    return 0;
}
