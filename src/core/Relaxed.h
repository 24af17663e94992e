#pragma once

#include <atomic>

namespace kelvora {

// A value with one writer that other threads read without a lock. Relaxed
// order costs the same as a plain load or store on x86 and keeps the reads
// race-free; readers accept that two values may come from neighbouring frames.
template <typename T> class Relaxed {
public:
    constexpr Relaxed() noexcept : value_{} {}
    constexpr Relaxed(T initial) noexcept : value_(initial) {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed&) = delete;

    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void store(T v) noexcept { value_.store(v, std::memory_order_relaxed); }
    operator T() const noexcept { return load(); }
    Relaxed& operator=(T v) noexcept {
        store(v);
        return *this;
    }
    T exchange(T v) noexcept { return value_.exchange(v, std::memory_order_relaxed); }
    T fetchAdd(T v) noexcept { return value_.fetch_add(v, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};

} // namespace kelvora
