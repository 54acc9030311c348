#include "address_code.h"

#include <arpa/inet.h>
#include <cstring>

namespace kolvena {

std::uint32_t Ipv4Value(std::string_view dotted) {
    // The standard conversion takes a terminated text.
    const std::string text(dotted);
    const in_addr_t net = inet_addr(text.c_str());
    unsigned char b[4];
    std::memcpy(b, &net, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::string DottedFromValue(std::uint32_t value) {
    return std::to_string(value & 0xFF) + "." + std::to_string((value >> 8) & 0xFF) + "." +
           std::to_string((value >> 16) & 0xFF) + "." + std::to_string(value >> 24);
}

AddressCode MakeAddressCode(std::string_view dotted) {
    return Ipv4Value(dotted) - ADDRESS_CODE_OFFSET;
}

std::uint32_t AddressFromCode(AddressCode code) {
    return code + ADDRESS_CODE_OFFSET;
}

} // namespace kolvena
