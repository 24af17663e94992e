#include "core/JmaIntensity.h"

#include "core/MeasurementState.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace kelvora {

AxisFilterChain::AxisFilterChain() = default;

double AxisFilterChain::filterAxes(double x, double y, double z, int slot) {
    const std::array<double, 3> input{x, y, z};
    auto& history = lpHistory_[static_cast<std::size_t>(slot)];
    std::array<double, 3> lowPass{};
    for (std::size_t a = 0; a < 3; ++a) {
        const double w = input[a] + 1.305822111 * lpState1_[a] - 0.377919888 * lpState2_[a];
        lowPass[a] = 0.018024444 * w + 0.036048889 * lpState1_[a] + 0.018024444 * lpState2_[a];
        lpState2_[a] = lpState1_[a];
        lpState1_[a] = w;
        history[a] = lowPass[a];
    }
    for (int i = slot; i < kSlots; ++i) {
        const auto& from = prefix_[static_cast<std::size_t>(i)];
        const auto& add = lpHistory_[static_cast<std::size_t>(i)];
        auto& to = prefix_[static_cast<std::size_t>(i) + 1];
        for (std::size_t a = 0; a < kLanes; ++a) {
            to[a] = from[a] + add[a];
        }
    }
    const auto& sum = prefix_[kSlots];
    for (std::size_t a = 0; a < 3; ++a) {
        const double mean = sum[a] / 100.0;
        smoothed_[a] = 0.4375 * (lowPass[a] - mean) + 0.5625 * smoothed_[a];
    }
    return std::sqrt(smoothed_[0] * smoothed_[0] + smoothed_[1] * smoothed_[1] +
                     smoothed_[2] * smoothed_[2]);
}

JmaWindow::JmaWindow() = default;

void JmaWindow::startReception() {
    window10s_.fill(0.0);
    sorted10s_.fill(0.0);
    for (auto& block : blockTops_) {
        block.fill(0.0);
    }
    blockIndex_ = 0;
}

namespace {
// No frame can produce a NaN (non-finite fields are never applied), but the
// ordered structures below must stay ordered whatever arrives: a NaN ranks
// below every number.
inline double rankable(double value) {
    return std::isnan(value) ? -std::numeric_limits<double>::infinity() : value;
}
} // namespace

double JmaWindow::update10s(int frameIndex, double siGal) {
    siGal = rankable(siGal);
    double& slot = window10s_[static_cast<std::size_t>(frameIndex)];
    const double old = slot;
    slot = siGal;
    if (!(siGal < old) && !(siGal > old)) {
        return sorted10s_[kRank - 1];
    }
    // Descending order: find one copy of the old value, then slide the values
    // between it and the new value's place by one position.
    const auto begin = sorted10s_.begin();
    const auto end = sorted10s_.end();
    const auto oldPos = std::lower_bound(begin, end, old, std::greater<double>());
    if (siGal > old) {
        const auto newPos = std::lower_bound(begin, oldPos, siGal, std::greater<double>());
        std::copy_backward(newPos, oldPos, oldPos + 1);
        *newPos = siGal;
    } else {
        const auto newEnd = std::lower_bound(oldPos + 1, end, siGal, std::greater<double>());
        std::copy(oldPos + 1, newEnd, oldPos);
        *(newEnd - 1) = siGal;
    }
    return sorted10s_[kRank - 1];
}

double JmaWindow::update60s(int frameIndex, double siGal, double held) {
    const int k = frameIndex % kBlockSize;
    blockBuffer_[static_cast<std::size_t>(k)] = rankable(siGal);
    double jmaAccel = held;
    if (k == 0) {
        jmaAccel = sortAreaRank30_;
    }
    if (k == kBlockSize - 1) {
        auto& block = blockTops_[static_cast<std::size_t>(blockIndex_)];
        std::partial_sort_copy(blockBuffer_.begin(), blockBuffer_.end(), block.begin(), block.end(),
                               std::greater<double>());
        sortAreaRank30_ = rank30OfBlocks();
        ++blockIndex_;
        if (blockIndex_ >= kBlocks) {
            blockIndex_ = 0;
        }
    }
    return jmaAccel;
}

double JmaWindow::rank30OfBlocks() const {
    // Merge the 60 descending lists until the 30th value.
    std::array<int, kBlocks> next{};
    double value = 0.0;
    for (int taken = 0; taken < kRank; ++taken) {
        std::size_t best = 0;
        double bestValue = 0.0;
        bool found = false;
        for (std::size_t b = 0; b < kBlocks; ++b) {
            if (next[b] >= kRank) {
                continue;
            }
            const double candidate = blockTops_[b][static_cast<std::size_t>(next[b])];
            if (!found || candidate > bestValue) {
                best = b;
                bestValue = candidate;
                found = true;
            }
        }
        ++next[best];
        value = bestValue;
    }
    return value;
}

double computeJmaIntensity(double jmaAccel) {
    // Zero, negative or NaN (possible with the sensor's own value): no logarithm.
    if (!(jmaAccel > 0.0)) {
        return kJmaFloor;
    }
    const double j = (2.0 * std::log10(jmaAccel) + 0.94) * 100.0;
    const double r = j > 0.0 ? std::floor(j + 0.5) : std::ceil(j - 0.5);
    double intensity = std::floor(r / 10.0) / 10.0;
    if (intensity < kJmaFloor) {
        intensity = kJmaFloor;
    }
    if (intensity == 0.0) {
        intensity = 0.0; // never -0.0, which would read "-0.0"
    }
    return intensity;
}

} // namespace kelvora
