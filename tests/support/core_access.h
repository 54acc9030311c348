#pragma once

#include "protocol/session_core.h"

namespace kolvena::test {

// What a test or a bench arranges behind the core's front: the session as a handler or a
// command would leave it, and the parts that live inside the core.
struct CoreAccess {
    static CoreParts& Parts(SessionCore& core) { return core.parts_; }
    static ClientHandler& Client(SessionCore& core) { return core.client_; }
};

inline const Session& SessionOf(const SessionCore& core) {
    return core.session();
}
inline const Recorder& RecorderOf(const SessionCore& core) {
    return core.recorder();
}
inline Session& SessionOf(SessionCore& core) {
    return CoreAccess::Parts(core).session;
}
inline Recorder& RecorderOf(SessionCore& core) {
    return CoreAccess::Parts(core).recorder;
}

} // namespace kolvena::test
