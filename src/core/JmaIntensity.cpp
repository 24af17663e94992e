#include "core/JmaIntensity.h"

#include "core/MeasurementState.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace kelvora {

AxisFilterChain::AxisFilterChain() = default;

void AxisFilterChain::startReception() {
    *this = AxisFilterChain();
}

double AxisFilterChain::filterAxes(double x, double y, double z, int slot) {
    const std::array<double, 3> input{x, y, z};
    auto& history = lpHistory_[static_cast<std::size_t>(slot)];
    std::array<double, 3> lowPass{};
    // Second-order low-pass in direct form II: a bilinear-transform design at
    // 100 samples a second with its corner near 5.2 Hz (Q about 0.354; real
    // poles near 0.8728 and 0.4330, both zeros at the Nyquist frequency). The
    // feed-forward taps sum to 1 - 1.305822111 + 0.377919888, so the gain at
    // 0 Hz is one. The coefficients keep their nine decimals: rounded
    // otherwise, every intensity would come out a little different.
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
    topCount_ = 0;
    threshold_ = 0.0;
    equalCount_ = kWindow10s;
    topOverflow_ = false;
    for (auto& block : blockTops_) {
        block.fill(0.0);
    }
    blockIndex_ = 0;
    // The value held from the last run's last block would show that run's
    // shaking for the first second of a new run on a quiet line, and record it.
    sortAreaRank30_ = 0.0;
}

namespace {
// No frame can produce a NaN (non-finite fields are never applied), but the
// ordered structures below must stay ordered whatever arrives: a NaN ranks
// below every number.
inline double rankable(double value) {
    return std::isnan(value) ? -std::numeric_limits<double>::infinity() : value;
}
} // namespace

void JmaWindow::rebuildTop() {
    std::array<double, kWindow10s> scratch = window10s_;
    std::nth_element(scratch.begin(), scratch.begin() + (kTopRebuild - 1), scratch.end(),
                     std::greater<double>());
    threshold_ = scratch[kTopRebuild - 1];
    topCount_ = 0;
    equalCount_ = 0;
    for (const double v : window10s_) {
        if (v > threshold_) {
            top_[static_cast<std::size_t>(topCount_++)] = v;
        } else if (v == threshold_) {
            ++equalCount_;
        }
    }
    std::sort(top_.begin(), top_.begin() + topCount_, std::greater<double>());
    topOverflow_ = false;
}

void JmaWindow::removeTop(double v) {
    // v is in the window, so a value above the threshold is in the list.
    if (v > threshold_) {
        const auto end = top_.begin() + topCount_;
        const auto pos = std::lower_bound(top_.begin(), end, v, std::greater<double>());
        if (pos != end) {
            std::copy(pos + 1, end, pos);
            --topCount_;
        }
    } else if (v == threshold_) {
        --equalCount_;
    }
}

void JmaWindow::insertTop(double v) {
    if (v > threshold_) {
        if (topCount_ == kTopCapacity) {
            topOverflow_ = true;
            return;
        }
        const auto end = top_.begin() + topCount_;
        const auto pos = std::upper_bound(top_.begin(), end, v, std::greater<double>());
        std::copy_backward(pos, end, end + 1);
        *pos = v;
        ++topCount_;
    } else if (v == threshold_) {
        ++equalCount_;
    }
}

double JmaWindow::update10s(int frameIndex, double siGal) {
    siGal = rankable(siGal);
    double& slot = window10s_[static_cast<std::size_t>(frameIndex)];
    const double old = slot;
    slot = siGal;
    if (siGal < old || siGal > old) {
        removeTop(old);
        insertTop(siGal);
        if (topOverflow_ || topCount_ + equalCount_ < kRank) {
            rebuildTop();
        }
    }
    return topCount_ >= kRank ? top_[kRank - 1] : threshold_;
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
    // Merge the 60 descending lists through a max-heap of their heads.
    struct Head {
        double value;
        std::uint16_t block;
        std::uint16_t next;
    };
    std::array<Head, kBlocks> heap{};
    for (std::size_t b = 0; b < kBlocks; ++b) {
        heap[b] = {blockTops_[b][0], static_cast<std::uint16_t>(b), 1};
    }
    const auto less = [](const Head& x, const Head& y) { return x.value < y.value; };
    auto end = heap.end();
    std::make_heap(heap.begin(), end, less);
    double value = 0.0;
    for (int taken = 0; taken < kRank; ++taken) {
        std::pop_heap(heap.begin(), end, less);
        Head& top = *(end - 1);
        value = top.value;
        if (top.next < kRank) {
            top.value = blockTops_[top.block][top.next];
            ++top.next;
            std::push_heap(heap.begin(), end, less);
        } else {
            --end;
        }
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
