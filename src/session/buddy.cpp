#include "buddy.h"

#include <algorithm>
#include <cstring>

#include "bytes.h"
#include "gbk.h"

namespace kolvena {
namespace {

template <std::size_t N> void FillField(std::array<char, N>& field, std::string_view text) {
    field.fill('\0');
    std::copy(text.begin(), text.end(), field.begin());
}

template <std::size_t N> std::string_view FieldView(const std::array<char, N>& field) {
    return FieldText(std::string_view(field.data(), N));
}

} // namespace

Buddy Buddy::Make(std::string_view name, std::string_view address, BuddyRole role) {
    Buddy buddy;
    buddy.SetName(name);
    // The address field keeps room for its terminator.
    FillField(buddy.address, address.substr(0, ADDRESS_SIZE - 1));
    buddy.role = role;
    return buddy;
}

std::string_view Buddy::Name() const {
    return FieldView(name);
}

void Buddy::SetName(std::string_view text) {
    FillField(name, GbkFit(text, NAME_SIZE));
}

std::string_view Buddy::Address() const {
    return FieldView(address);
}

std::string Buddy::Encode() const {
    std::string out;
    out.reserve(RECORD_SIZE);
    ByteWriter w(out);
    w.Raw(std::string_view(reserved.data(), reserved.size()));
    w.Raw(std::string_view(name.data(), name.size()));
    w.U32(id);
    w.U8(static_cast<std::uint8_t>(state));
    w.U8(static_cast<std::uint8_t>(role));
    w.U8(olFlag);
    w.U8(padding);
    w.U32(joinTime);
    w.U32(leaveTime);
    w.U16(sayCount);
    w.U16(messageCount);
    w.Raw(std::string_view(address.data(), address.size()));
    return out;
}

std::optional<Buddy> Buddy::Decode(std::string_view bytes) {
    if (bytes.size() < RECORD_SIZE)
        return std::nullopt;
    const char* p = bytes.data();
    Buddy b;
    std::memcpy(b.reserved.data(), p, 4);
    std::memcpy(b.name.data(), p + 4, NAME_SIZE);
    b.id = LoadU32(p + 24);
    b.state = static_cast<BuddyState>(static_cast<std::int8_t>(p[28]));
    b.role = static_cast<BuddyRole>(static_cast<std::uint8_t>(p[29]));
    b.olFlag = static_cast<std::uint8_t>(p[30]);
    b.padding = static_cast<std::uint8_t>(p[31]);
    b.joinTime = LoadU32(p + 32);
    b.leaveTime = LoadU32(p + 36);
    b.sayCount = LoadU16(p + 40);
    b.messageCount = LoadU16(p + 42);
    std::memcpy(b.address.data(), p + 44, ADDRESS_SIZE);
    return b;
}

} // namespace kolvena
