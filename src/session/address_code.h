#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolvena {

// A session is found by one unsigned 32-bit number standing for the host's IPv4 address,
// shown and typed in decimal. The port takes no part in it.
using AddressCode = std::uint32_t;

inline constexpr std::uint16_t ADDRESS_CODE_OFFSET = 41357; // 0xA18D

// The IPv4 value of a.b.c.d: a + 256*b + 65536*c + 16777216*d (network order read as
// little-endian). A text that is not a dotted quad gives the all-ones "none" value.
std::uint32_t Ipv4Value(std::string_view dotted);
std::string DottedFromValue(std::uint32_t value);

AddressCode MakeAddressCode(std::string_view dotted);
// The IPv4 value the code stands for.
std::uint32_t AddressFromCode(AddressCode code);

} // namespace kolvena
