#pragma once

#include <cstdint>

#include "support/child_process.h"

namespace kolvena::bench {

using test::ChildOptions;
using test::ChildProcess;
using test::FreePort;

// A connection to 127.0.0.1:port, non-blocking and without Nagle's delay; -1 when it is refused.
int ConnectTo(std::uint16_t port);

} // namespace kolvena::bench
