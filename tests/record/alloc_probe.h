#pragma once

#include <cstddef>

namespace kolvena::test {

// Watches the global operator new of the test program: while armed, it remembers the largest
// single request, so a test can show that a size claimed by input was never allocated.
class AllocationProbe {
public:
    AllocationProbe();
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    std::size_t Largest() const;
};

} // namespace kolvena::test
