// The test program's operator new, in a file of its own so that no caller sees it inline. While
// armed, it remembers the largest single request, so a test can show that a size claimed by
// input was never allocated.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> armed{false};
std::atomic<std::size_t> largest{0};
} // namespace

void* operator new(std::size_t size) {
    if (armed.load(std::memory_order_relaxed)) {
        std::size_t seen = largest.load(std::memory_order_relaxed);
        while (size > seen && !largest.compare_exchange_weak(seen, size))
            ;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace kolvena::test {
void ArmAllocationProbe(bool on) {
    largest = 0;
    armed = on;
}
std::size_t LargestAllocation() {
    return largest.load();
}
} // namespace kolvena::test
