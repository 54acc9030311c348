#pragma once

#include "peer_options.h"

namespace kolvena::peer {

// `search`: asks the local network (and the addresses named) for sessions, waits, then prints
// one line (or JSON object) per session in the order found and, as lines, the count. Returns
// the exit code: 0, or 1 when no socket could be opened.
int RunSearch(const PeerOptions& options);

} // namespace kolvena::peer
