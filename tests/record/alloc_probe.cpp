// The test program's operator new, in a file of its own so that no caller sees it inline. While
// armed, it remembers the largest single request, so a test can show that a size claimed by
// input was never allocated. The record tests run on one thread.
#include <cstdlib>
#include <new>

namespace {
bool armed = false;
std::size_t largest = 0;
} // namespace

void* operator new(std::size_t size) {
    if (armed && size > largest)
        largest = size;
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
    return largest;
}
} // namespace kolvena::test
