#include "assembler.h"

namespace kolvena {

void PacketAssembler::Feed(std::string_view bytes) {
    if (failed_ || bytes.empty())
        return;
    // What is left after the caller drained Next() is part of one packet, so each byte is moved
    // at most once.
    if (consumed_ > 0) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    buffer_.append(bytes);
}

PacketAssembler::Result PacketAssembler::Next() {
    if (failed_)
        return {Status::Violation, {}};
    const std::string_view pending = std::string_view(buffer_).substr(consumed_);
    if (pending.empty())
        return {Status::NeedMore, {}};

    const auto type = PacketTypeOf(static_cast<std::uint8_t>(pending[0]));
    if (!type || !Handles(side_, *type)) {
        buffer_.clear();
        consumed_ = 0;
        return {Status::Discarded, {}};
    }
    const auto extent = MeasurePacket(pending); // a known type and bytes at hand: measured
    // A lower bound already past the limit is as much a violation as a whole length past it.
    if (extent->length > MaxPacketSize(*type)) {
        failed_ = true;
        buffer_.clear();
        buffer_.shrink_to_fit();
        consumed_ = 0;
        return {Status::Violation, {}};
    }
    if (!extent->complete || pending.size() < extent->length)
        return {Status::NeedMore, {}};

    Result result{Status::Packet, std::string(pending.substr(0, extent->length))};
    consumed_ += extent->length;
    if (consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    }
    return result;
}

} // namespace kolvena
