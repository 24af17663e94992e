#pragma once

#include "core/SensorFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace kelvora {

struct MeasurementState;

// A short read-out text of fixed capacity, so formatting never allocates.
class FieldText {
public:
    static constexpr std::size_t kCapacity = 23;

    FieldText() = default;
    FieldText(std::string_view text) { assign(text); }
    void assign(std::string_view text);
    // The value as printf's "%<width>.<precision>f" writes it, cut to its
    // first maxChars characters.
    void formatFixed(double value, int width, int precision, std::size_t maxChars);
    void append(std::string_view text);

    std::string_view view() const { return {data_.data(), size_}; }
    const char* c_str() const { return data_.data(); }
    bool operator==(const FieldText& other) const { return view() == other.view(); }
    bool operator==(std::string_view other) const { return view() == other; }

private:
    std::array<char, kCapacity + 1> data_{};
    std::size_t size_ = 0;
};

// The ready-formatted read-outs made at each display tick.
struct DisplayTexts {
    FieldText accelXText{"0.000 gal"};
    FieldText accelYText{"0.000 gal"};
    FieldText accelZText{"0.000 gal"};
    FieldText jmaAccelText{"0.000 gal"};
    FieldText pgaText{"0.000"};
    FieldText temperatureText{"---.-"};
    FieldText humidityText{"---.-"};
    FieldText pressureText{"----.--"};
    FieldText seaLevelPressureText{"----.--"};
    FieldText pgvText{"0.000"};
    FieldText intensityText{"-3.0"};
    FieldText temperatureLogText{"---.-"};
    FieldText humidityLogText{"---.-"};
    FieldText pressureLogText{"----.--"};
    FieldText seaLevelPressureLogText{"----.--"};
};

// The four environment texts the observation log writes, as the display tick
// left them.
struct ObservationTexts {
    FieldText temperature;
    FieldText humidity;
    FieldText pressure;
    FieldText seaLevelPressure;
    // Display ticks so far: unchanged over a minute means no frame came.
    std::uint64_t displayTicks = 0;
};

// Formats every display text except intensityText from the period peaks and
// the frame's own environment fields, resetting each acceleration, vector,
// JMA-acceleration and velocity peak right after its text is made.
void formatDisplayTick(MeasurementState& state, const FrameBytes& frameBuffer, DisplayTexts& texts);

// Hands whole texts from the receive thread to their readers under one lock,
// held only while the texts are copied.
class DisplayTextBoard {
public:
    void publish(const DisplayTexts& texts) {
        std::lock_guard lock(mutex_);
        texts_ = texts;
        ++published_;
    }
    DisplayTexts snapshot() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    // Only the four log texts, for the observation log.
    ObservationTexts observationTexts() const {
        std::lock_guard lock(mutex_);
        return {texts_.temperatureLogText, texts_.humidityLogText, texts_.pressureLogText,
                texts_.seaLevelPressureLogText, published_};
    }

private:
    mutable std::mutex mutex_;
    DisplayTexts texts_;
    std::uint64_t published_ = 0;
};

} // namespace kelvora
