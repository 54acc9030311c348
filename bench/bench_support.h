#pragma once

#include <cstdint>

#include "support/child_process.h"

namespace kolvena::bench {

using test::ChildOptions;
using test::ChildProcess;
using test::FreePort;

// A connection to 127.0.0.1:port, non-blocking and without Nagle's delay; -1 when it is refused.
// From the own address `source` (a loopback address) when given; with wait false the connect
// itself does not wait either, and its failure shows on the socket.
int ConnectTo(std::uint16_t port, const char* source = nullptr, bool wait = true);

} // namespace kolvena::bench
