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
inline constexpr std::size_t kSamplesPerSection =
    kFramesPerSampleCopy; // element 5 of each axis stays 0.0

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

// The named POSIX shared-memory object the block lives in, mapped read-write.
class SharedMapping {
public:
    SharedMapping() = default;
    ~SharedMapping() { close(); }
    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;

    // Creates the object, or takes over one this user already owns (a reader
    // started first, or a killed instance left it): mode 0600, sized, mapped.
    // False, with one line on standard error, when it cannot be had or belongs
    // to another user; such a block is left exactly as it is.
    bool open(const std::string& name);
    // Unmaps; removes the name only when this process created the object and
    // the name still refers to it.
    void close();

    bool isOpen() const { return data_ != nullptr; }
    std::uint8_t* data() const { return data_; }
    // True once another process has cut the object short under the mapping:
    // the stores since then have gone to private memory.
    bool cutShort() const noexcept;
    // Says once on standard error that publication has stopped.
    void reportCutShort() noexcept;

private:
    std::uint8_t* data_ = nullptr;
    int guardSlot_ = -1;
    bool created_ = false;
    bool reported_ = false;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    std::string name_;
    std::string cutShortMessage_; // made before reception: no allocation on the receive thread
};

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
    // it and the image with zeros. False when there is no block (said once on
    // standard error): publication is then skipped.
    bool create() {
        if (mapping_.isOpen() && mapping_.cutShort()) {
            mapping_.close();
        }
        if (!mapping_.isOpen() && !mapping_.open(name_)) {
            block_ = nullptr;
            return false;
        }
        block_ = mapping_.data();
        std::memset(block_, 0, publication::kSize);
        image_.fill(0);
        return true;
    }
    // Unmaps the block, and removes its name when this process created it.
    // Runs before any reception run or after the last one has ended.
    void destroy() {
        block_ = nullptr;
        mapping_.close();
    }
    // False as well once publication has stopped because the block was cut
    // short. Read it between reception runs.
    bool isOpen() const { return block_ != nullptr; }
    const std::string& name() const { return name_; }

    void publishAcceleration(const MeasurementState& s) override {
        if (!live()) {
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
        if (!live()) {
            return;
        }
        stores_.template statusPair<publication::kJmaStatus>(block_);
        stores_.byte(block_, publication::kJmaPeakCode,
                     publication::jmaPeakCode(s.peakJmaIntensity.load()));
    }

    void publishEnvironment(const MeasurementState& s) override {
        if (!live()) {
            return;
        }
        stores_.real(block_, KELVORA_SHM_TEMPERATURE, s.temperature);
        stores_.real(block_, KELVORA_SHM_HUMIDITY, s.humidity);
        stores_.real(block_, KELVORA_SHM_PRESSURE, s.pressure);
        stores_.real(block_, KELVORA_SHM_SEA_LEVEL_PRESSURE, s.seaLevelPressure);
        stores_.template statusPair<publication::kEnvStatus>(block_);
    }

private:
    // Whether to publish: false without a block, and from the first round
    // after another process cut it short (said once on standard error, the
    // only system call publication ever makes).
    bool live() noexcept {
        if (block_ != nullptr && mapping_.cutShort()) {
            mapping_.reportCutShort();
            block_ = nullptr;
        }
        return block_ != nullptr;
    }

    void putImage(std::size_t axisOffset, std::size_t slot, double value) {
        std::memcpy(image_.data() + axisOffset + slot * sizeof(double), &value, sizeof value);
    }

    std::string name_;
    Stores stores_;
    publication::SharedMapping mapping_;
    std::uint8_t* block_ = nullptr; // the mapping while publishing
    // Collects the samples between two copies; only bytes 0x10 to 0x9F are used.
    alignas(8) std::array<std::uint8_t, publication::kSize> image_{};
};

// The monitor's block.
class PublicationBlock final : public BasicPublicationBlock<publication::AtomicStores> {
public:
    using BasicPublicationBlock::BasicPublicationBlock;
};

} // namespace kelvora
