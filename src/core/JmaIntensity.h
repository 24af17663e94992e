#pragma once

#include <array>
#include <cstdint>

namespace kelvora {

// The three-axis filter chain whose output enters the JMA window: a
// second-order low-pass per axis, the offset removed with the mean of its last
// 100 outputs, then a first-order smoothing.
class AxisFilterChain {
public:
    AxisFilterChain();
    // Reception start: the chain starts from rest as at program start. Its
    // delays, offset history and smoothing would otherwise still ring with
    // the shaking of a run stopped during an event, and a quiet line would
    // show intensity 2 and record it.
    void startReception();
    // Runs every frame; slot is frameIndex mod 100. Returns siGalComputed.
    double filterAxes(double x, double y, double z, int slot);

private:
    static constexpr int kSlots = 100;
    static constexpr int kLanes = 4; // X, Y, Z and padding, so the sums run side by side

    std::array<double, kLanes> lpState1_{};
    std::array<double, kLanes> lpState2_{};
    std::array<double, kLanes> smoothed_{};
    // lpHistory_[slot][axis]; prefix_[i][axis] is the sum of slots 0..i-1 taken in
    // slot order. Writing slot s leaves prefix_[0..s] valid, so only the tail is
    // summed again and the mean stays bit for bit the straight left-to-right sum.
    alignas(32) std::array<std::array<double, kLanes>, kSlots> lpHistory_{};
    alignas(32) std::array<std::array<double, kLanes>, kSlots + 1> prefix_{};
};

// The window of siGal values from which the reference acceleration (the 30th
// largest) is taken, in its 10-second and 60-second forms.
class JmaWindow {
public:
    static constexpr int kRank = 30;

    JmaWindow();
    // Reception start: both windows, the block index and the value held from
    // the last block are cleared. The block buffer survives: every slot of it
    // is written again before the first block of the new run ends.
    void startReception();
    // 10-second mode, every frame: slot frameIndex takes siGal; returns the
    // 30th largest of the 1000 slots.
    double update10s(int frameIndex, double siGal);
    // 60-second mode: returns the new jmaAccel, or `held` when this frame does
    // not re-evaluate the window.
    double update60s(int frameIndex, double siGal, double held);

private:
    static constexpr int kWindow10s = 1000;
    static constexpr int kBlockSize = 100;
    static constexpr int kBlocks = 60;

    // 10-second window: the slots in frame order, and the values above a
    // threshold kept sorted (the rest only counted when equal to it). Most
    // frames touch a short list or nothing; when fewer than 30 values remain
    // at or above the threshold, or the list fills, it is chosen anew as the
    // 64th largest of the window.
    static constexpr int kTopCapacity = 256;
    static constexpr int kTopRebuild = 64;
    std::array<double, kWindow10s> window10s_{};
    std::array<double, kTopCapacity> top_{};
    int topCount_ = 0;
    double threshold_ = 0.0;
    int equalCount_ = kWindow10s;
    bool topOverflow_ = false;

    void rebuildTop();
    void removeTop(double value);
    void insertTop(double value);

    // 60-second window: only the 30 largest of a block can reach rank 30 of
    // the whole window, so each block keeps those, in descending order.
    std::array<double, kBlockSize> blockBuffer_{};
    std::array<std::array<double, kRank>, kBlocks> blockTops_{};
    std::int32_t blockIndex_ = 0;
    // The 30th largest of the sort area as copied at the last completed block;
    // taken at the first frame of the next block.
    double sortAreaRank30_ = 0.0;

    double rank30OfBlocks() const;
};

// jmaIntensity from jmaAccel: 2·log10(a) + 0.94, rounded at the third decimal,
// cut to one decimal, never below -3.0.
double computeJmaIntensity(double jmaAccel);

} // namespace kelvora
