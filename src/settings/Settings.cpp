#include "settings/Settings.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace kelvora {

namespace {
std::int32_t read(SettingsStore& store, key::Key k, std::int32_t defaultValue) {
    return store.readInt(k.section, k.entry, defaultValue);
}
void write(SettingsStore& store, key::Key k, std::int32_t value) {
    store.writeInt(k.section, k.entry, value);
}
} // namespace

std::int32_t scaledToStored(double value, int factor) {
    const double scaled = std::round(value * factor);
    if (!(scaled >= static_cast<double>(std::numeric_limits<std::int32_t>::min()))) {
        return std::numeric_limits<std::int32_t>::min(); // also NaN
    }
    if (scaled > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(scaled);
}

double storedToScaled(std::int32_t stored, int factor) {
    return static_cast<double>(stored) / static_cast<double>(factor);
}

WindowRect Settings::defaultWindowRect(WorkArea workArea) {
    const std::int32_t halfWidth = workArea.width / 2;
    const std::int32_t halfHeight = workArea.height / 2;
    return {halfHeight - 124, halfWidth - 211, halfHeight + 124, halfWidth + 211};
}

void Settings::loadLanguage(SettingsStore& store) {
    const std::int32_t stored = read(store, key::kLanguage, 0);
    // A negative index would select past the language tables.
    LanguageIndex = stored < 0 || stored >= kLanguageCount ? 0 : stored;
}

void Settings::loadWindowSettings(SettingsStore& store, WorkArea workArea) {
    const WindowRect fallback = defaultWindowRect(workArea);
    windowRect.top = read(store, key::kTop, fallback.top);
    windowRect.left = read(store, key::kLeft, fallback.left);
    windowRect.bottom = read(store, key::kBottom, fallback.bottom);
    windowRect.right = read(store, key::kRight, fallback.right);
    stayOnTop = read(store, key::kOnTop, stayOnTop);
    autoStart = read(store, key::kAutoStart, 0);
    minimiseAtStart = read(store, key::kMinStart, 0);
    observationLogEnabled = read(store, key::kObsWrite, 1);
    pipeline.useSensorSiGal = read(store, key::kReceiveSiGal, 0);
    pipeline.useSensorVelocity = read(store, key::kReceiveVelocity, 0);
    recorder.recordStartVelocity = storedToScaled(read(store, key::kRecordStartVelocity, -1), 1000);
    recorder.recordStartIntensity = storedToScaled(read(store, key::kRecordStartIntensity, -9), 10);
    recorder.recordStopIntensity = storedToScaled(read(store, key::kRecordStopIntensity, -13), 10);
    recorder.recordMinSeconds = read(store, key::kRecordMinSeconds, 30);
    framelessView = read(store, key::kTitleView, 0);
    portIndex = read(store, key::kPortNumber, 0);
    pipeline.jmaWindowMode = read(store, key::kRadioNumber, 0);
    pipeline.intensityScale = read(store, key::kScale, 0);
}

void Settings::loadColours(SettingsStore& store) {
    backgroundColour = read(store, key::kBackgroundColour, kDefaultBackgroundColour);
    textColour = read(store, key::kTextColour, kDefaultTextColour);
    disabledTextColour = read(store, key::kDisabledTextColour, kDefaultDisabledTextColour);
}

void Settings::saveAll(SettingsStore& store) const {
    write(store, key::kTop, windowRect.top);
    write(store, key::kLeft, windowRect.left);
    write(store, key::kBottom, windowRect.bottom);
    write(store, key::kRight, windowRect.right);
    write(store, key::kTitleView, framelessView);
    write(store, key::kPortNumber, portIndex);
    write(store, key::kRadioNumber, pipeline.jmaWindowMode);
    write(store, key::kScale, pipeline.intensityScale);
    write(store, key::kAutoStart, autoStart);
    write(store, key::kMinStart, minimiseAtStart);
    write(store, key::kObsWrite, observationLogEnabled);
    write(store, key::kReceiveSiGal, pipeline.useSensorSiGal);
    write(store, key::kReceiveVelocity, pipeline.useSensorVelocity);
    write(store, key::kRecordStartVelocity, scaledToStored(recorder.recordStartVelocity, 1000));
    write(store, key::kRecordStartIntensity, scaledToStored(recorder.recordStartIntensity, 10));
    write(store, key::kRecordStopIntensity, scaledToStored(recorder.recordStopIntensity, 10));
    write(store, key::kRecordMinSeconds, recorder.recordMinSeconds);
    write(store, key::kLanguage, LanguageIndex);
    write(store, key::kBackgroundColour, backgroundColour);
    write(store, key::kTextColour, textColour);
    write(store, key::kDisabledTextColour, disabledTextColour);
    write(store, key::kOnTop, stayOnTop);
}

std::string colourToHex(std::int32_t colour) {
    const auto value = static_cast<std::uint32_t>(colour);
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", value & 0xFFu, (value >> 8) & 0xFFu,
                  (value >> 16) & 0xFFu);
    return text;
}

bool hexToColour(const std::string& text, std::int32_t& colour) {
    if (text.size() != 7 || text[0] != '#') {
        return false;
    }
    std::uint32_t rgb = 0;
    for (std::size_t i = 1; i < 7; ++i) {
        const char c = text[i];
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        rgb = rgb << 4 | digit;
    }
    const std::uint32_t red = rgb >> 16;
    const std::uint32_t green = (rgb >> 8) & 0xFFu;
    const std::uint32_t blue = rgb & 0xFFu;
    colour = static_cast<std::int32_t>(blue << 16 | green << 8 | red);
    return true;
}

} // namespace kelvora
