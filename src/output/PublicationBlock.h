#pragma once

#include "core/MeasurementState.h"
#include "core/PipelineHooks.h"

#include <kelvora/publication_block.h>

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace kelvora {

static_assert(std::endian::native == std::endian::little,
              "the block is little-endian and written with native stores");

namespace publication {

inline constexpr std::size_t kSize = KELVORA_SHM_SIZE;
inline constexpr std::size_t kJmaStatus = KELVORA_SHM_JMA_BUSY;
inline constexpr std::size_t kJmaPeakCode = KELVORA_SHM_JMA_PEAK_CODE;
inline constexpr std::size_t kAccelStatus = KELVORA_SHM_ACCEL_BUSY;
inline constexpr std::size_t kAccelBegin = KELVORA_SHM_ACCEL_X;
inline constexpr std::size_t kAccelEnd = KELVORA_SHM_ACCEL_END;
inline constexpr std::size_t kEnvStatus = KELVORA_SHM_ENV_BUSY;
inline constexpr std::size_t kSamplesPerSection = 5; // element 5 of each axis stays 0.0

// peakJmaIntensity x 10 + 30, truncated toward zero. Intensities of 22.5 and
// more give 255: cutting to the low eight bits would turn a huge peak into a
// quiet-looking code.
inline std::uint8_t jmaPeakCode(double peakJmaIntensity) noexcept {
    const double code = peakJmaIntensity * 10.0 + 30.0;
    if (!(code > 0.0)) {
        return 0;
    }
    if (code >= 255.0) {
        return 255;
    }
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(code));
}

// The stores into the shared block. Each is one atomic store with release
// order, so another process sees them whole and in program order. Nothing is
// ever loaded from the block.
struct AtomicStores {
    static_assert(std::atomic_ref<std::uint16_t>::is_always_lock_free &&
                  std::atomic_ref<std::uint32_t>::is_always_lock_free &&
                  std::atomic_ref<double>::is_always_lock_free);

    void byte(std::uint8_t* block, std::size_t offset, std::uint8_t value) const noexcept {
        std::atomic_ref<std::uint8_t>(block[offset]).store(value, std::memory_order_release);
    }
    void real(std::uint8_t* block, std::size_t offset, double value) const noexcept {
        std::atomic_ref<double>(*reinterpret_cast<double*>(block + offset))
            .store(value, std::memory_order_release);
    }
    // Busy 0 and updated 0xFF in one store. The acceleration pair sits at an
    // odd offset, where a 16-bit store is misaligned; the aligned 32-bit word
    // around it is written instead, with 0 in its two reserved bytes.
    template <std::size_t Offset> void statusPair(std::uint8_t* block) const noexcept {
        if constexpr (Offset % 2 == 0) {
            std::atomic_ref<std::uint16_t>(*reinterpret_cast<std::uint16_t*>(block + Offset))
                .store(0xFF00u, std::memory_order_release);
        } else {
            static_assert(Offset % 4 == 1, "the pair must lie inside one aligned word");
            std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(block + Offset - 1))
                .store(0x00FF0000u, std::memory_order_release);
        }
    }
};

// The POSIX shared-memory object of that name, created or opened, sized to the
// block and mapped read-write; null when it cannot be had.
std::uint8_t* mapSharedBlock(const std::string& name);
// Unmaps the block and removes the name.
void unmapSharedBlock(std::uint8_t* block, const std::string& name);

} // namespace publication

// The shared block the monitor publishes its live values in, for other local
// programs; the layout is in <kelvora/publication_block.h>. The stores are a
// parameter so tests can see their order; the product uses AtomicStores.
template <typename Stores> class BasicPublicationBlock : public PublicationHook {
public:
    explicit BasicPublicationBlock(std::string name = KELVORA_SHM_NAME, Stores stores = {})
        : name_(std::move(name)), stores_(stores) {}
    ~BasicPublicationBlock() override { destroy(); }
    BasicPublicationBlock(const BasicPublicationBlock&) = delete;
    BasicPublicationBlock& operator=(const BasicPublicationBlock&) = delete;

    // Creates the block, or opens it when a reader created it first, and fills
    // it and the image with zeros. False when there is no block: publication is
    // then skipped without a word.
    bool create() {
        if (block_ == nullptr) {
            block_ = publication::mapSharedBlock(name_);
        }
        if (block_ == nullptr) {
            return false;
        }
        std::memset(block_, 0, publication::kSize);
        image_.fill(0);
        return true;
    }
    // Unmaps the block and removes its name. Runs before any reception run or
    // after the last one has ended.
    void destroy() {
        if (block_ != nullptr) {
            publication::unmapSharedBlock(block_, name_);
            block_ = nullptr;
        }
    }
    bool isOpen() const { return block_ != nullptr; }
    const std::string& name() const { return name_; }

    void publishAcceleration(const MeasurementState& s) override {
        if (block_ == nullptr) {
            return;
        }
        const std::size_t slot =
            static_cast<std::uint32_t>(s.frameIndex) % publication::kSamplesPerSection;
        putImage(KELVORA_SHM_ACCEL_X, slot, s.accelX);
        putImage(KELVORA_SHM_ACCEL_Y, slot, s.accelY);
        putImage(KELVORA_SHM_ACCEL_Z, slot, s.accelZ);
        if (slot != publication::kSamplesPerSection - 1) {
            return;
        }
        stores_.byte(block_, publication::kAccelStatus, 1);
        for (std::size_t i = publication::kAccelBegin; i < publication::kAccelEnd; ++i) {
            stores_.byte(block_, i, image_[i]);
        }
        stores_.template statusPair<publication::kAccelStatus>(block_);
    }

    void publishIntensity(const MeasurementState& s) override {
        if (block_ == nullptr) {
            return;
        }
        stores_.template statusPair<publication::kJmaStatus>(block_);
        stores_.byte(block_, publication::kJmaPeakCode,
                     publication::jmaPeakCode(s.peakJmaIntensity.load()));
    }

    void publishEnvironment(const MeasurementState& s) override {
        if (block_ == nullptr) {
            return;
        }
        stores_.real(block_, KELVORA_SHM_TEMPERATURE, s.temperature);
        stores_.real(block_, KELVORA_SHM_HUMIDITY, s.humidity);
        stores_.real(block_, KELVORA_SHM_PRESSURE, s.pressure);
        stores_.real(block_, KELVORA_SHM_SEA_LEVEL_PRESSURE, s.seaLevelPressure);
        stores_.template statusPair<publication::kEnvStatus>(block_);
    }

private:
    void putImage(std::size_t axisOffset, std::size_t slot, double value) {
        std::memcpy(image_.data() + axisOffset + slot * sizeof(double), &value, sizeof value);
    }

    std::string name_;
    Stores stores_;
    std::uint8_t* block_ = nullptr;
    // Collects the samples between two copies; only bytes 0x10 to 0x9F are used.
    alignas(8) std::array<std::uint8_t, publication::kSize> image_{};
};

// The monitor's block.
class PublicationBlock final : public BasicPublicationBlock<publication::AtomicStores> {
public:
    using BasicPublicationBlock::BasicPublicationBlock;
};

} // namespace kelvora
