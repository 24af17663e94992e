#include "core/DisplayTexts.h"

#include "core/MeasurementState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kelvora {

void FieldText::assign(std::string_view text) {
    size_ = std::min(text.size(), kCapacity);
    std::copy_n(text.data(), size_, data_.data());
    data_[size_] = '\0';
}

void FieldText::formatCut(const char* format, double value, std::size_t maxChars) {
    // snprintf keeps the first maxChars characters of a longer number.
    const std::size_t limit = std::min(maxChars, kCapacity);
    const int written = std::snprintf(data_.data(), limit + 1, format, value);
    size_ = written < 0 ? 0 : std::min(static_cast<std::size_t>(written), limit);
    data_[size_] = '\0';
}

void FieldText::append(std::string_view text) {
    const std::size_t n = std::min(text.size(), kCapacity - size_);
    std::copy_n(text.data(), n, data_.data() + size_);
    size_ += n;
    data_[size_] = '\0';
}

namespace {

void formatGal(FieldText& text, double& peak) {
    text.formatCut("%9.3f", peak, 9);
    text.append(" gal");
    peak = 0.0;
}

// An environment reading straight from the frame. A reading that is not a
// number gets the placeholder in both texts: "nan" is no reading to log.
void formatEnvironment(float reading, const char* format, std::size_t width, double high,
                       double low, std::string_view placeholder, FieldText& displayText,
                       FieldText& logText) {
    const double value = static_cast<double>(reading);
    if (!std::isfinite(value)) {
        displayText.assign(placeholder);
        logText.assign(placeholder);
        return;
    }
    displayText.formatCut(format, value, width);
    logText = displayText;
    if (value > high || value < low) {
        displayText.assign(placeholder);
    }
}

} // namespace

void formatDisplayTick(MeasurementState& state, const FrameBytes& frameBuffer,
                       DisplayTexts& texts) {
    formatGal(texts.accelXText, state.peakAccelX);
    formatGal(texts.accelYText, state.peakAccelY);
    formatGal(texts.accelZText, state.peakAccelZ);
    formatGal(texts.jmaAccelText, state.peakJmaAccel);
    texts.pgaText.formatCut("%9.3f", state.peakPgaVector, 9);
    state.peakPgaVector = 0.0;

    formatEnvironment(readFloat(&frameBuffer[frame::kTemperature]), "%5.1f", 5, 999.999, -99.999,
                      "---.-", texts.temperatureText, texts.temperatureLogText);
    formatEnvironment(readFloat(&frameBuffer[frame::kHumidity]), "%5.1f", 5, 999.999, -99.999,
                      "---.-", texts.humidityText, texts.humidityLogText);
    formatEnvironment(readFloat(&frameBuffer[frame::kPressure]), "%7.2f", 7, 9999.999, -999.999,
                      "----.--", texts.pressureText, texts.pressureLogText);
    formatEnvironment(readFloat(&frameBuffer[frame::kSeaLevelPressure]), "%7.2f", 7, 9999.999,
                      -999.999, "----.--", texts.seaLevelPressureText,
                      texts.seaLevelPressureLogText);

    texts.pgvText.formatCut("%9.3f", state.peakPgv, 9);
    state.peakPgv = 0.0;
}

} // namespace kelvora
