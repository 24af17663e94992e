#include "core/Mercalli.h"

#include "core/MeasurementState.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace kelvora {

double VelocityIntegrators::update(double ax, double ay, double az) {
    const std::array<double, 3> accel{ax, ay, az};
    std::array<double, 3> velocity{};
    for (std::size_t i = 0; i < 3; ++i) {
        const double a = accel[i];
        const double f = 0.15 * std::log10(std::min(std::fabs(a), 55.0) + 1.0) + 0.73;
        velState_[i] = (prevAccel_[i] + a) * 0.01 * 0.5 + velState_[i] * f;
        velocity[i] = 2.0 * velState_[i] / (f + 1.0);
    }
    return std::sqrt(velocity[0] * velocity[0] + velocity[1] * velocity[1] +
                     velocity[2] * velocity[2]);
}

void VelocityIntegrators::keepPrevious(double ax, double ay, double az) {
    prevAccel_ = {ax, ay, az};
}

MercalliEstimate estimateMercalli(double pgaVector, double pgv) {
    MercalliEstimate e;
    const double l = std::log10(pgaVector);
    e.fromPga = pgaVector < 66.36175 ? 2.2 * l + 1.0 : 3.66 * l - 1.66;
    const double m = std::log10(pgv);
    e.fromPgv = pgv < 5.8401414 ? 2.1 * m + 3.4 : 3.47 * m + 2.35;

    double w = (e.fromPga - 5.0) * 0.5;
    if (w <= 0.0) {
        w = 0.0;
    } else if (w >= 1.0) {
        w = 1.0;
    }
    // At the ends of the blend only one estimate counts; this keeps a velocity of
    // 0 (log10 gives -inf) from turning the sum into 0 * -inf = NaN.
    double b;
    if (w == 0.0) {
        b = e.fromPga;
    } else if (w == 1.0) {
        b = e.fromPgv;
    } else {
        b = (1.0 - w) * e.fromPga + w * e.fromPgv;
    }
    if (!(b >= kMmiFloor)) { // below the floor, or NaN
        b = kMmiFloor;
    }
    e.blended = b;
    return e;
}

MercalliHold::MercalliHold() {
    // Slots beyond the 300 never win; the 300 start at zero.
    tree_.fill(-std::numeric_limits<double>::infinity());
    for (int i = 0; i < kSlots; ++i) {
        tree_[static_cast<std::size_t>(kLeaves + i)] = 0.0;
    }
    for (int i = kLeaves - 1; i >= 1; --i) {
        const std::size_t n = static_cast<std::size_t>(i);
        tree_[n] = std::max(tree_[2 * n], tree_[2 * n + 1]);
    }
}

double MercalliHold::update(int slot, double blended) {
    std::size_t n = static_cast<std::size_t>(kLeaves + slot);
    tree_[n] = blended;
    for (n /= 2; n >= 1; n /= 2) {
        const double m = std::max(tree_[2 * n], tree_[2 * n + 1]);
        if (std::bit_cast<std::uint64_t>(m) == std::bit_cast<std::uint64_t>(tree_[n])) {
            break; // the maximum above is unchanged too
        }
        tree_[n] = m;
    }
    return std::floor(tree_[1] * 10.0) / 10.0;
}

} // namespace kelvora
