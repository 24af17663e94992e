#include "ReferenceModel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>

namespace kelvora::reference {

namespace {

constexpr int kSuppressed = -536870912; // 0xE0000000: keeps a class silent until cleared
constexpr double kJmaFloor = -3.0;
constexpr double kMmiFloor = -9.9;

// Each helper formats into a buffer one longer than the kept width, so snprintf itself
// cuts the text to its first n characters.
std::string format9_3(double v) {
    char buf[10];
    std::snprintf(buf, sizeof buf, "%9.3f", v);
    return buf;
}

std::string format4_1(double v) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "%4.1f", v);
    return buf;
}

std::string format5_1(double v) {
    char buf[6];
    std::snprintf(buf, sizeof buf, "%5.1f", v);
    return buf;
}

std::string format7_2(double v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%7.2f", v);
    return buf;
}

void sortDescending(std::vector<double>& values) {
    std::sort(values.begin(), values.end(), std::greater<double>());
}

// Lower bounds of classes 1..9; class 0 is everything below the first bound.
constexpr std::array<double, 10> kJmaBounds = {0.0, 0.5, 1.5, 2.5, 3.5, 4.5, 5.0, 5.5, 6.0, 6.5};
constexpr std::array<double, 10> kMmiBounds = {0.0, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5};

} // namespace

ReferenceModel::ReferenceModel()
    : window10s_(1000, 0.0), blockBuffer_(100, 0.0), blocks60s_(60, std::vector<double>(100, 0.0)),
      sortArea60s_(6000, 0.0), mmiHistory_(300, 0.0) {
    texts_.accelX = "0.000 gal";
    texts_.accelY = "0.000 gal";
    texts_.accelZ = "0.000 gal";
    texts_.jmaAccel = "0.000 gal";
    texts_.pga = "0.000";
    texts_.temperature = "---.-";
    texts_.humidity = "---.-";
    texts_.pressure = "----.--";
    texts_.seaLevelPressure = "----.--";
    texts_.pgv = "0.000";
    texts_.intensity = "-3.0";
    texts_.temperatureLog = "---.-";
    texts_.humidityLog = "---.-";
    texts_.pressureLog = "----.--";
    texts_.seaLevelPressureLog = "----.--";
}

void ReferenceModel::startReception() {
    siGal_ = 0.0;
    siGalComputed_ = 0.0;
    sensorSiGal_ = 0.0;
    jmaAccel_ = 0.0;
    pgv_ = 0.0;
    pgvComputed_ = 0.0;
    sensorVelocity_ = 0.0;
    velX_.velState = 0.0;
    velY_.velState = 0.0;
    velZ_.velState = 0.0;
    filterX_ = AxisFilter{};
    filterY_ = AxisFilter{};
    filterZ_ = AxisFilter{};
    std::fill(window10s_.begin(), window10s_.end(), 0.0);
    for (auto& block : blocks60s_) {
        std::fill(block.begin(), block.end(), 0.0);
    }
    // The sort area too: its copy of the last run's blocks would be the new
    // run's first second.
    std::fill(sortArea60s_.begin(), sortArea60s_.end(), 0.0);
    blockIndex_ = 0;
    frameIndex_ = 0;
    frameBuffer_.fill(0);
    byteCount_ = 0;
    // A run never ends between a bad frame and its skipped read, so none is pending here.
    skipNextRead_ = false;
    pendingImageRedraws_ = 0;
}

void ReferenceModel::feed(std::optional<std::uint8_t> read, std::vector<ReferenceFrame>& out) {
    if (skipNextRead_) {
        // The read after a bad frame is thrown away, whatever it delivered.
        skipNextRead_ = false;
        byteCount_ = 0;
        return;
    }
    if (!read.has_value()) {
        // A time-out drops the partial frame.
        byteCount_ = 0;
        return;
    }
    if (byteCount_ < kFrameSize) {
        frameBuffer_[byteCount_] = *read;
    }
    ++byteCount_;
    if (byteCount_ > kFrameSize) {
        byteCount_ = 0;
    }
    if (byteCount_ < kFrameSize) {
        return;
    }

    std::uint16_t sum = 0;
    for (int i = 0; i < 40; ++i) {
        sum = static_cast<std::uint16_t>(sum + frameBuffer_[i]);
    }
    const auto stored = static_cast<std::uint16_t>(frameBuffer_[40] |
                                                   (static_cast<unsigned>(frameBuffer_[41]) << 8));
    if (sum == stored) {
        runFrame(out);
        byteCount_ = 0;
    } else {
        ++badFrames_;
        skipNextRead_ = true;
        byteCount_ = 0;
    }
}

float ReferenceModel::frameFloat(int offset) const {
    const std::uint32_t word = static_cast<std::uint32_t>(frameBuffer_[offset]) |
                               (static_cast<std::uint32_t>(frameBuffer_[offset + 1]) << 8) |
                               (static_cast<std::uint32_t>(frameBuffer_[offset + 2]) << 16) |
                               (static_cast<std::uint32_t>(frameBuffer_[offset + 3]) << 24);
    return std::bit_cast<float>(word);
}

void ReferenceModel::applyFrame() {
    double* const targets[9] = {&sensorSiGal_, &sensorVelocity_, &accelX_,
                                &accelY_,      &accelZ_,         &temperature_,
                                &humidity_,    &pressure_,       &seaLevelPressure_};
    for (int i = 0; i < 9; ++i) {
        const float value = frameFloat(i * 4);
        const std::uint32_t word = std::bit_cast<std::uint32_t>(value);
        // All exponent bits set: infinity or NaN, keep the previous value.
        if (((word >> 23) & 0xFFu) == 0xFFu) {
            continue;
        }
        // The five motion values (fields 0 to 4): beyond 10000 in magnitude is
        // a corrupted frame's value, kept out the same way.
        if (i < 5 && std::fabs(value) > 10000.0f) {
            continue;
        }
        *targets[i] = static_cast<double>(value);
    }
}

double ReferenceModel::filterAxis(AxisFilter& axis, double x) const {
    const double w = x + 1.305822111 * axis.lpState1 - 0.377919888 * axis.lpState2;
    const double y = 0.018024444 * w + 0.036048889 * axis.lpState1 + 0.018024444 * axis.lpState2;
    axis.lpState2 = axis.lpState1;
    axis.lpState1 = w;

    axis.lpHistory[frameIndex_ % 100] = y;
    double sum = 0.0;
    for (int i = 0; i < 100; ++i) {
        sum += axis.lpHistory[i];
    }
    const double m = sum / 100.0;

    axis.smoothed = 0.4375 * (y - m) + 0.5625 * axis.smoothed;
    return axis.smoothed;
}

void ReferenceModel::updateJmaWindow() {
    if (settings.jmaWindowMode == 0) {
        window10s_[frameIndex_] = siGal_;
        std::vector<double> scratch = window10s_;
        sortDescending(scratch);
        jmaAccel_ = scratch[29];
        return;
    }

    const int k = frameIndex_ % 100;
    blockBuffer_[k] = siGal_;
    if (k == 0) {
        // Sorted in place; the area is refilled from the blocks at the end of each block.
        sortDescending(sortArea60s_);
        jmaAccel_ = sortArea60s_[29];
    }
    if (k == 99) {
        sortDescending(blockBuffer_);
        blocks60s_[blockIndex_] = blockBuffer_;
        for (int b = 0; b < 60; ++b) {
            for (int i = 0; i < 100; ++i) {
                sortArea60s_[b * 100 + i] = blocks60s_[b][i];
            }
        }
        if (blockIndex_ >= 59) {
            blockIndex_ = 0;
        } else {
            ++blockIndex_;
        }
    }
}

double ReferenceModel::integrateAxis(AxisVelocity& axis, double a) const {
    const double f = 0.15 * std::log10(std::min(std::fabs(a), 55.0) + 1.0) + 0.73;
    axis.velState = (axis.prevAccel + a) * 0.01 * 0.5 + axis.velState * f;
    return 2.0 * axis.velState / (f + 1.0);
}

void ReferenceModel::updateVelocity() {
    const double vx = integrateAxis(velX_, accelX_);
    const double vy = integrateAxis(velY_, accelY_);
    const double vz = integrateAxis(velZ_, accelZ_);
    pgvComputed_ = std::sqrt(vx * vx + vy * vy + vz * vz);
    pgv_ = settings.useSensorVelocity != 0 ? sensorVelocity_ : pgvComputed_;
    if (pgv_ > peakPgv_) {
        peakPgv_ = pgv_;
    }
}

void ReferenceModel::updateMercalli() {
    const double l = std::log10(pgaVector_);
    if (pgaVector_ < 66.36175) {
        mmiFromPga_ = 2.2 * l + 1.0;
    } else {
        mmiFromPga_ = 3.66 * l - 1.66;
    }

    const double m = std::log10(pgv_);
    if (pgv_ < 5.8401414) {
        mmiFromPgv_ = 2.1 * m + 3.4;
    } else {
        mmiFromPgv_ = 3.47 * m + 2.35;
    }

    double w = (mmiFromPga_ - 5.0) * 0.5;
    if (w <= 0.0) {
        w = 0.0;
    }
    if (w >= 1.0) {
        w = 1.0;
    }

    // At the ends of the blend only one estimate counts, so a non-finite value of the
    // other one cannot leak in through a zero weight.
    double b;
    if (w == 0.0) {
        b = mmiFromPga_;
    } else if (w == 1.0) {
        b = mmiFromPgv_;
    } else {
        b = (1.0 - w) * mmiFromPga_ + w * mmiFromPgv_;
    }
    if (std::isnan(b) || b < kMmiFloor) {
        b = kMmiFloor;
    }

    mmiHistory_[frameIndex_ % 300] = b;
    std::vector<double> scratch = mmiHistory_;
    sortDescending(scratch);
    const double largest = scratch[0];
    mmi_ = std::floor(largest * 10.0) / 10.0;
}

void ReferenceModel::computeJmaIntensity() {
    const double a = jmaAccel_;
    // Zero, negative and NaN reference accelerations have no logarithm.
    if (!(a > 0.0)) {
        jmaIntensity_ = kJmaFloor;
        return;
    }
    const double j = (2.0 * std::log10(a) + 0.94) * 100.0;
    double r;
    if (j > 0.0) {
        r = std::floor(j + 0.5);
    } else {
        r = std::ceil(j - 0.5);
    }
    double value = std::floor(r / 10.0) / 10.0;
    if (value < kJmaFloor) {
        value = kJmaFloor;
    }
    if (value == 0.0) {
        value = 0.0; // no negative zero
    }
    jmaIntensity_ = value;
}

void ReferenceModel::raisePeaks() {
    if (std::fabs(accelX_) > std::fabs(peakAccelX_)) {
        peakAccelX_ = accelX_;
    }
    if (std::fabs(accelY_) > std::fabs(peakAccelY_)) {
        peakAccelY_ = accelY_;
    }
    if (std::fabs(accelZ_) > std::fabs(peakAccelZ_)) {
        peakAccelZ_ = accelZ_;
    }
    if (pgaVector_ > peakPgaVector_) {
        peakPgaVector_ = pgaVector_;
    }
    if (jmaAccel_ > peakJmaAccel_) {
        peakJmaAccel_ = jmaAccel_;
    }
    if (jmaIntensity_ > peakJmaIntensity_) {
        peakJmaIntensity_ = jmaIntensity_;
    }
    if (mmi_ > peakMmi_) {
        peakMmi_ = mmi_;
    }
}

void ReferenceModel::decideClass() {
    const bool jma = settings.intensityScale == 0;
    const double v = jma ? peakJmaIntensity_ : peakMmi_;
    texts_.intensity = format4_1(v);

    const std::array<double, 10>& bounds = jma ? kJmaBounds : kMmiBounds;
    for (int c = 0; c <= 9; ++c) {
        bool holds;
        if (c == 0) {
            holds = v < bounds[1];
        } else if (c == 9) {
            holds = bounds[9] <= v;
        } else {
            holds = bounds[c] <= v && v < bounds[c + 1];
        }
        if (holds) {
            intensityClass_ = c;
            return;
        }
    }
    // NaN matches no range: the class stays as it was.
}

void ReferenceModel::playAlertSound(int k, std::vector<std::string>& sounds) {
    alertRetry_[k] = 0;
    sounds.push_back(std::string(1, 'A').append(std::to_string(k)));
    // Playback always succeeds here, so the retry flag is never set again.
}

void ReferenceModel::playNoticeSound(int k, std::vector<std::string>& sounds) {
    noticeRetry_[k] = 0;
    sounds.push_back(std::string(1, 'N').append(std::to_string(k)));
}

void ReferenceModel::updateAlerts(std::vector<std::string>& sounds) {
    const int c = intensityClass_;
    if (c == 0) {
        classDwell_.fill(0);
        alertRetry_.fill(0);
        noticeRetry_.fill(0);
        return;
    }
    if (c >= 1 && c <= 8) {
        for (int k = c + 1; k <= 9; ++k) {
            classDwell_[k] = 0;
        }
    }
    if (classDwell_[c] < 1000) {
        classDwell_[c] += 1;
    }

    // Only the next two classes up are looked at; indices above 9 are left out.
    const auto higherClear = [this](int k) {
        if (k + 1 <= 9 && classDwell_[k + 1] != 0) {
            return false;
        }
        if (k + 2 <= 9 && classDwell_[k + 2] != 0) {
            return false;
        }
        return true;
    };

    for (int k = 1; k <= 9; ++k) {
        if (alertRetry_[k] == 1 || (classDwell_[k] == 2 && higherClear(k))) {
            for (int j = 1; j <= k - 1; ++j) {
                classDwell_[j] = kSuppressed;
            }
            playAlertSound(k, sounds);
        }
    }
    for (int k = 1; k <= 9; ++k) {
        if (noticeRetry_[k] == 1 || (classDwell_[k] == 10 && higherClear(k))) {
            playNoticeSound(k, sounds);
        }
    }
}

void ReferenceModel::formatTexts() {
    texts_.accelX = format9_3(peakAccelX_) + " gal";
    peakAccelX_ = 0.0;
    texts_.accelY = format9_3(peakAccelY_) + " gal";
    peakAccelY_ = 0.0;
    texts_.accelZ = format9_3(peakAccelZ_) + " gal";
    peakAccelZ_ = 0.0;

    texts_.jmaAccel = format9_3(peakJmaAccel_) + " gal";
    peakJmaAccel_ = 0.0;

    texts_.pga = format9_3(peakPgaVector_);
    peakPgaVector_ = 0.0;

    // The environment texts come straight from the frame's single-precision fields.
    const auto environment = [](float raw, std::string& text, std::string& logText, bool pressure) {
        const char* placeholder = pressure ? "----.--" : "---.-";
        if (!std::isfinite(raw)) {
            text = placeholder;
            logText = placeholder;
            return;
        }
        const double value = static_cast<double>(raw);
        text = pressure ? format7_2(value) : format5_1(value);
        logText = text;
        const double high = pressure ? 9999.999 : 999.999;
        const double low = pressure ? -999.999 : -99.999;
        if (value > high || value < low) {
            text = placeholder;
        }
    };
    environment(frameFloat(20), texts_.temperature, texts_.temperatureLog, false);
    environment(frameFloat(24), texts_.humidity, texts_.humidityLog, false);
    environment(frameFloat(28), texts_.pressure, texts_.pressureLog, true);
    environment(frameFloat(32), texts_.seaLevelPressure, texts_.seaLevelPressureLog, true);

    texts_.pgv = format9_3(peakPgv_);
    peakPgv_ = 0.0;
}

void ReferenceModel::displayTick(ReferenceFrame& frame) {
    decideClass();
    updateAlerts(frame.sounds);
    formatTexts();
    if (intensityClass_ != previousClass_) {
        ++pendingImageRedraws_;
        previousClass_ = intensityClass_;
    }
    peakJmaIntensity_ = -3.0;
    peakMmi_ = -100.0;
}

void ReferenceModel::runFrame(std::vector<ReferenceFrame>& out) {
    ReferenceFrame frame;
    frame.frameIndex = frameIndex_;
    frame.displayPhase = displayPhase_;

    ++goodFrames_;
    applyFrame();

    const double sx = filterAxis(filterX_, accelX_);
    const double sy = filterAxis(filterY_, accelY_);
    const double sz = filterAxis(filterZ_, accelZ_);
    siGalComputed_ = std::sqrt(sx * sx + sy * sy + sz * sz);

    siGal_ = settings.useSensorSiGal != 0 ? sensorSiGal_ : siGalComputed_;

    pgaVector_ = std::sqrt(accelX_ * accelX_ + accelY_ * accelY_ + accelZ_ * accelZ_);

    updateJmaWindow();
    updateVelocity();
    updateMercalli();
    computeJmaIntensity();

    intensity_ = settings.intensityScale == 0 ? jmaIntensity_ : mmi_;

    raisePeaks();

    frame.displayTick = displayPhase_ == 0;
    if (frame.displayTick) {
        displayTick(frame);
    }

    const double floorValue = settings.intensityScale == 0 ? kJmaFloor : kMmiFloor;
    if (intensity_ < floorValue) {
        intensity_ = floorValue;
    }

    // The next frame integrates from this frame's axis values.
    velX_.prevAccel = accelX_;
    velY_.prevAccel = accelY_;
    velZ_.prevAccel = accelZ_;

    frame.sensorSiGal = sensorSiGal_;
    frame.sensorVelocity = sensorVelocity_;
    frame.accelX = accelX_;
    frame.accelY = accelY_;
    frame.accelZ = accelZ_;
    frame.temperature = temperature_;
    frame.humidity = humidity_;
    frame.pressure = pressure_;
    frame.seaLevelPressure = seaLevelPressure_;
    frame.siGalComputed = siGalComputed_;
    frame.siGal = siGal_;
    frame.jmaAccel = jmaAccel_;
    frame.pgaVector = pgaVector_;
    frame.pgvComputed = pgvComputed_;
    frame.pgv = pgv_;
    frame.mmiFromPga = mmiFromPga_;
    frame.mmiFromPgv = mmiFromPgv_;
    frame.mmi = mmi_;
    frame.jmaIntensity = jmaIntensity_;
    frame.intensity = intensity_;
    frame.peakAccelX = peakAccelX_;
    frame.peakAccelY = peakAccelY_;
    frame.peakAccelZ = peakAccelZ_;
    frame.peakPgaVector = peakPgaVector_;
    frame.peakJmaAccel = peakJmaAccel_;
    frame.peakPgv = peakPgv_;
    frame.peakJmaIntensity = peakJmaIntensity_;
    frame.peakMmi = peakMmi_;
    frame.intensityClass = intensityClass_;
    frame.pendingImageRedraws = pendingImageRedraws_;
    frame.texts = texts_;

    if (displayPhase_ >= 24) {
        displayPhase_ = 0;
    } else {
        ++displayPhase_;
    }
    if (frameIndex_ == 999) {
        frameIndex_ = 0;
    } else {
        ++frameIndex_;
    }

    out.push_back(std::move(frame));
}

} // namespace kelvora::reference
