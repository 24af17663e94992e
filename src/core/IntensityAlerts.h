#pragma once

#include "core/Relaxed.h"

#include <array>
#include <cstdint>

namespace kelvora {

class FieldText;

inline constexpr int kClassCount = 10; // classes 0..9; sounds exist for 1..9

// Starts the sound of class k on a thread of its own; the receive thread never
// waits for a sound. The routine reports back through IntensityAlerts'
// beginAlertPlay / finishAlertPlay (and the notice pair).
class SoundStarter {
public:
    virtual ~SoundStarter() = default;
    virtual void startAlertSound(int k) = 0;
    virtual void startNoticeSound(int k) = 0;
};

// The intensity class of each display period and the alert and notice sounds
// that a stay in a class earns.
class IntensityAlerts {
public:
    // Written into the dwell counters of lower classes by an alert; counting up
    // from it never reaches 2 or 10, so those classes stay silent. The bit
    // pattern 0xE0000000, that is -2^29.
    static constexpr std::int32_t kSuppressed = -(std::int32_t{1} << 29);
    static constexpr std::int32_t kDwellLimit = 1000;

    // Classifies v (peakJmaIntensity on scale 0, else peakMmi) and writes the
    // intensity text. A NaN keeps the previous class.
    void decideClass(int intensityScale, double peakJmaIntensity, double peakMmi,
                     FieldText& intensityText);
    void updateAlerts(SoundStarter& sounds);
    // A class different from the last tick's asks the window for one more redraw.
    void countClassChange();
    void startReception() { pendingImageRedraws = 0; }

    // Sound routines: clear the flag when the play starts, set it when it failed.
    void beginAlertPlay(int k) { alertRetry[static_cast<std::size_t>(k)] = 0; }
    void finishAlertPlay(int k, bool played);
    void beginNoticePlay(int k) { noticeRetry[static_cast<std::size_t>(k)] = 0; }
    void finishNoticePlay(int k, bool played);

    static int classOf(int intensityScale, double value, int previous);

    Relaxed<std::int32_t> intensityClass{0};
    std::int32_t previousClass = -3; // -3: the first tick counts as a change
    Relaxed<std::int32_t> pendingImageRedraws{0};
    std::array<std::int32_t, kClassCount> classDwell{}; // index 1..9
    std::array<Relaxed<std::int32_t>, kClassCount> alertRetry{};
    std::array<Relaxed<std::int32_t>, kClassCount> noticeRetry{};

private:
    bool quietAbove(int k) const;
};
static_assert(static_cast<std::uint32_t>(IntensityAlerts::kSuppressed) == 0xE0000000u);

} // namespace kelvora
