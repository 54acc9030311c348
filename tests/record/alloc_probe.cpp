#include "alloc_probe.h"

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

AllocationProbe::AllocationProbe() {
    largest = 0;
    armed = true;
}

AllocationProbe::~AllocationProbe() {
    armed = false;
}

std::size_t AllocationProbe::Largest() const {
    return largest.load();
}

} // namespace kolvena::test
