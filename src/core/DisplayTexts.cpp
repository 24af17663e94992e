#include "core/DisplayTexts.h"

#include "core/MeasurementState.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kelvora {

void FieldText::assign(std::string_view text) {
    size_ = std::min(text.size(), kCapacity);
    std::copy_n(text.data(), size_, data_.data());
    data_[size_] = '\0';
}

void FieldText::formatFixed(double value, int width, int precision, std::size_t maxChars) {
    // to_chars gives printf's digits (correctly rounded, "-0.000", "inf") at a
    // fraction of its cost; the padding and the cut are done here.
    char digits[400]; // the longest double in fixed notation, with 17 decimals
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    const std::size_t length =
        result.ec == std::errc{} ? static_cast<std::size_t>(result.ptr - digits) : 0;
    const std::size_t padding =
        static_cast<std::size_t>(width) > length ? static_cast<std::size_t>(width) - length : 0;
    const std::size_t limit = std::min(maxChars, kCapacity);
    size_ = 0;
    for (std::size_t i = 0; i < padding && size_ < limit; ++i) {
        data_[size_++] = ' ';
    }
    for (std::size_t i = 0; i < length && size_ < limit; ++i) {
        data_[size_++] = digits[i];
    }
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
    text.formatFixed(peak, 9, 3, 9);
    text.append(" gal");
    peak = 0.0;
}

// An environment reading straight from the frame. A reading that is not a
// number gets the placeholder in both texts: "nan" is no reading to log.
void formatEnvironment(float reading, int width, int precision, double high, double low,
                       std::string_view placeholder, FieldText& displayText, FieldText& logText) {
    const double value = static_cast<double>(reading);
    if (!std::isfinite(value)) {
        displayText.assign(placeholder);
        logText.assign(placeholder);
        return;
    }
    displayText.formatFixed(value, width, precision, static_cast<std::size_t>(width));
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
    texts.pgaText.formatFixed(state.peakPgaVector, 9, 3, 9);
    state.peakPgaVector = 0.0;

    formatEnvironment(readFloat(&frameBuffer[frame::kTemperature]), 5, 1, 999.999, -99.999, "---.-",
                      texts.temperatureText, texts.temperatureLogText);
    formatEnvironment(readFloat(&frameBuffer[frame::kHumidity]), 5, 1, 999.999, -99.999, "---.-",
                      texts.humidityText, texts.humidityLogText);
    formatEnvironment(readFloat(&frameBuffer[frame::kPressure]), 7, 2, 9999.999, -999.999,
                      "----.--", texts.pressureText, texts.pressureLogText);
    formatEnvironment(readFloat(&frameBuffer[frame::kSeaLevelPressure]), 7, 2, 9999.999, -999.999,
                      "----.--", texts.seaLevelPressureText, texts.seaLevelPressureLogText);

    texts.pgvText.formatFixed(state.peakPgv, 9, 3, 9);
    state.peakPgv = 0.0;
}

} // namespace kelvora
