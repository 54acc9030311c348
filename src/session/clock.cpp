#include "clock.h"

#include <ctime>

namespace kolvena {

CalendarTime SystemClock::Now() const {
    return static_cast<CalendarTime>(std::time(nullptr));
}

} // namespace kolvena
