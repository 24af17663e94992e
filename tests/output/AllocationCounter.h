#pragma once

namespace kelvora::test {

// Allocations through operator new in this process so far; the test binary
// that links AllocationCounter.cpp counts every one.
long allocationCount();

} // namespace kelvora::test
