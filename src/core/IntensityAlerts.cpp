#include "core/IntensityAlerts.h"

#include "core/DisplayTexts.h"

#include <cmath>

namespace kelvora {

namespace {
// Lower bound of classes 1..9; class 0 lies below the first.
constexpr std::array<double, 9> kJmaBounds{0.5, 1.5, 2.5, 3.5, 4.5, 5.0, 5.5, 6.0, 6.5};
constexpr std::array<double, 9> kMmiBounds{1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5};
} // namespace

int IntensityAlerts::classOf(int intensityScale, double value, int previous) {
    if (std::isnan(value)) {
        return previous;
    }
    const auto& bounds = intensityScale == 0 ? kJmaBounds : kMmiBounds;
    int c = 0;
    while (c < 9 && value >= bounds[static_cast<std::size_t>(c)]) {
        ++c;
    }
    return c;
}

void IntensityAlerts::decideClass(int intensityScale, double peakJmaIntensity, double peakMmi,
                                  FieldText& intensityText) {
    const double v = intensityScale == 0 ? peakJmaIntensity : peakMmi;
    intensityText.formatFixed(v, 4, 1, 4);
    intensityClass = classOf(intensityScale, v, intensityClass);
}

bool IntensityAlerts::quietAbove(int k) const {
    for (int j = k + 1; j <= k + 2 && j <= 9; ++j) {
        if (classDwell[static_cast<std::size_t>(j)] != 0) {
            return false;
        }
    }
    return true;
}

void IntensityAlerts::updateAlerts(SoundStarter& sounds) {
    const int c = intensityClass;
    if (c == 0) {
        for (std::size_t k = 1; k < kClassCount; ++k) {
            classDwell[k] = 0;
            alertRetry[k] = 0;
            noticeRetry[k] = 0;
        }
        return;
    }
    if (c < 1 || c > 9) {
        return;
    }
    for (int k = c + 1; k <= 9; ++k) {
        classDwell[static_cast<std::size_t>(k)] = 0;
    }
    auto& dwell = classDwell[static_cast<std::size_t>(c)];
    if (dwell < kDwellLimit) {
        ++dwell;
    }
    for (int k = 1; k <= 9; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        if (alertRetry[kk] == 1 || (classDwell[kk] == 2 && quietAbove(k))) {
            for (std::size_t lower = 1; lower < kk; ++lower) {
                classDwell[lower] = kSuppressed;
            }
            sounds.startAlertSound(k);
        }
    }
    for (int k = 1; k <= 9; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        if (noticeRetry[kk] == 1 || (classDwell[kk] == 10 && quietAbove(k))) {
            sounds.startNoticeSound(k);
        }
    }
}

void IntensityAlerts::countClassChange() {
    const int c = intensityClass;
    if (c != previousClass) {
        pendingImageRedraws.fetchAdd(1);
        previousClass = c;
    }
}

void IntensityAlerts::finishAlertPlay(int k, bool played) {
    if (!played) {
        alertRetry[static_cast<std::size_t>(k)] = 1;
    }
}

void IntensityAlerts::finishNoticePlay(int k, bool played) {
    if (!played) {
        noticeRetry[static_cast<std::size_t>(k)] = 1;
    }
}

} // namespace kelvora
