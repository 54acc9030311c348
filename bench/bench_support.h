#pragma once

#include <cstdint>

namespace kolvena::bench {

// A TCP port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreePort();

// A connection to 127.0.0.1:port, non-blocking and without Nagle's delay; -1 when it is refused.
int ConnectTo(std::uint16_t port);

} // namespace kolvena::bench
