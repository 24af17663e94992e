#pragma once

#include <array>
#include <cstdint>

namespace kelvora {

// Leaky trapezoid integration of the three axes into a composite velocity.
class VelocityIntegrators {
public:
    // Returns pgvComputed for the current axis values.
    double update(double ax, double ay, double az);
    // Runs at the end of every frame: the next frame integrates from these.
    void keepPrevious(double ax, double ay, double az);
    // Reception start clears the integrated velocities, not the previous samples.
    void startReception() { velState_.fill(0.0); }

private:
    std::array<double, 3> velState_{};
    std::array<double, 3> prevAccel_{};
};

struct MercalliEstimate {
    double fromPga = 0.0;
    double fromPgv = 0.0;
    double blended = 0.0; // as it enters the history: never NaN, never below -9.9
};

MercalliEstimate estimateMercalli(double pgaVector, double pgv);

// The blended Mercalli values of the last 300 frames (slot frameIndex mod 300),
// held as their largest value. A max tree replaces the per-frame sort of 300.
class MercalliHold {
public:
    MercalliHold();
    // Stores the value and returns mmi: the largest slot cut to one decimal.
    double update(int slot, double blended);

private:
    static constexpr int kSlots = 300;
    static constexpr int kLeaves = 512;
    std::array<double, 2 * kLeaves> tree_{};
};

} // namespace kelvora
