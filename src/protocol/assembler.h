#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "packets.h"

namespace kolvena {

// Cuts the byte stream of one session connection back into packets by the lengths their
// types and counts give, so that packets arriving together or in pieces are each handled
// once and whole. One assembler per connection, fed whatever each read returns.
class PacketAssembler {
public:
    enum class Status {
        Packet,    // one complete packet, in order
        NeedMore,  // nothing complete is buffered; feed the next read
        Discarded, // a type this side does not take arrived: the stream cannot be resynchronised,
                   // so everything buffered was dropped; the connection stays open
        Violation, // a header announced more than the type may have: close the connection
    };

    struct Result {
        Status status = Status::NeedMore;
        std::string packet; // the packet's bytes when status is Packet
    };

    explicit PacketAssembler(Side side) : side_(side) {}

    // Appends one read. Ignored once a violation was reported.
    void Feed(std::string_view bytes);
    // The next complete packet, or why there is none. Call until it answers NeedMore before
    // feeding again; after a violation it keeps answering Violation.
    Result Next();

    bool Failed() const { return failed_; }
    // Bytes held and not yet yielded.
    std::size_t Buffered() const { return buffer_.size() - consumed_; }

private:
    Side side_;
    std::string buffer_;
    // Bytes at the front of buffer_ already yielded; dropped at the next Feed, so that many
    // small packets in one read cost one move of the remainder, not one per packet.
    std::size_t consumed_ = 0;
    bool failed_ = false;
};

} // namespace kolvena
