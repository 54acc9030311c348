#pragma once

#include "peer_options.h"

namespace kolvena::peer {

// `replay` and `transcript`: opens the recording as the window's open command does, plays it
// through the core at once, without waiting for the recorded delays, printing what the window
// would show, and for `transcript` then writes the replayed session's text transcript.
// Returns the exit code: 0, or 1 after the box that says what went wrong.
int RunReplay(const PeerOptions& options);

} // namespace kolvena::peer
