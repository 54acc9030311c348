#pragma once

#include "peer_options.h"

namespace kolvena::peer {

// `history DIR`: one line per recording in DIR, newest first, read from its header only:
//   recording: FILE<TAB>TOPIC<TAB>START<TAB>SECONDS<TAB>MEMBERS<TAB>CHATLINES<TAB>NOTICES<TAB>
//   EVENTS<TAB>ended|unfinished|unreadable
// `find DIR TEXT`: `match: FILE<TAB>EVENT<TAB>HH:MM:SS<TAB>LINE` per chat line or notice that
// holds TEXT (case-insensitive), then `find: N matches`. Exit code 0; 1 when DIR is no folder.
int RunHistory(const PeerOptions& options);

} // namespace kolvena::peer
