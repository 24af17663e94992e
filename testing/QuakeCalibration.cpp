#include "QuakeCalibration.h"

#include "core/MeasurementPipeline.h"

#include <cmath>

namespace kelvora::sim {

namespace {
class SilentSounds : public SoundStarter {
public:
    void startAlertSound(int) override {}
    void startNoticeSound(int) override {}
};

// The core remembers little of the past: short filters, a 1-s mean and the
// 10-s window. A quake far into the stream is therefore calibrated behind one
// to a little over one minute of the sensor's noise instead of all of it, so
// that calibrating it takes no longer than calibrating one near the start.
// Its own motion stays the same, only the noise beneath it differs; the shift
// is whole 10-s windows, so every frame keeps its slot in them.
constexpr double kLeadSeconds = 60.0;
constexpr double kShiftStepSeconds = 10.0;

double calibrationStart(double startSeconds) {
    const double steps = std::floor((startSeconds - kLeadSeconds) / kShiftStepSeconds);
    return steps > 0.0 ? startSeconds - steps * kShiftStepSeconds : startSeconds;
}
} // namespace

double measureJmaIntensity(std::uint64_t seed, const std::vector<QuakeEvent>& events,
                           double seconds) {
    MeasurementState state;
    PipelineSettings settings;
    IntensityAlerts alerts;
    DisplayTextBoard board;
    SilentSounds sounds;
    MeasurementPipeline pipeline(state, settings, alerts, board, sounds);
    pipeline.startReception();

    SyntheticSensor sensor(seed, events);
    const auto frames = std::llround(seconds * SyntheticSensor::kFramesPerSecond);
    double highest = -HUGE_VAL;
    for (long long n = 0; n < frames; ++n) {
        pipeline.processFrame(encodeFrame(sensor.next()));
        if (state.jmaAccel > 0.0) {
            highest = std::fmax(highest, 2.0 * std::log10(state.jmaAccel) + 0.94);
        }
    }
    return highest;
}

std::vector<QuakeEvent> calibrateEvents(std::uint64_t seed,
                                        const std::vector<IntensityEvent>& events) {
    // The shown intensity is the value rounded at the third decimal and cut to
    // one: aim a little above the asked value so the cut lands on it.
    constexpr double kAimAbove = 0.045;
    std::vector<QuakeEvent> result(events.size(), QuakeEvent{0.0, 0.0, 0.0});
    for (std::size_t i = 0; i < events.size(); ++i) {
        const IntensityEvent& e = events[i];
        const double start = calibrationStart(e.startSeconds);
        const double target = e.intensity + kAimAbove;
        // The filter chain is linear, so the intensity grows by 2·log10 of the
        // amplitude factor; the sensor noise makes a few rounds necessary.
        double peak = 2.5 * std::pow(10.0, (target - 0.94) / 2.0);
        // Calibrated alone: the other events stay in the list with no amplitude,
        // so this one keeps its own random shape.
        std::vector<QuakeEvent> alone(events.size(), QuakeEvent{0.0, 0.0, 0.0});
        for (int round = 0; round < 8; ++round) {
            alone[i] = {start, e.durationSeconds, peak};
            const double measured =
                measureJmaIntensity(seed, alone, start + e.durationSeconds + 1.0);
            const double error = target - measured;
            if (std::fabs(error) < 0.004) {
                break;
            }
            peak *= std::pow(10.0, error / 2.0);
        }
        result[i] = {e.startSeconds, e.durationSeconds, peak};
    }
    return result;
}

} // namespace kelvora::sim
