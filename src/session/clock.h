#pragma once

#include <cstdint>

namespace kolvena {

// Seconds since 1970-01-01 UTC. Wire and file fields carry the low 32 bits.
using CalendarTime = std::int64_t;

// The current calendar time, behind an interface so that time texts and event delays can be
// tested without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual CalendarTime Now() const = 0;
};

class SystemClock final : public Clock {
public:
    CalendarTime Now() const override;
};

} // namespace kolvena
