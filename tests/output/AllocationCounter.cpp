// Replaces the global operator new of the test binary with one that counts,
// so a test can show that a hot path allocates nothing. A translation unit of
// its own, so the compiler never pairs an inlined new with free().
#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> gAllocations{0};
}

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace kelvora::test {

long allocationCount() {
    return gAllocations.load(std::memory_order_relaxed);
}

} // namespace kelvora::test
