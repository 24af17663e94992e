#include "settings/Settings.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <type_traits>
#include <variant>

namespace kelvora {

namespace {

// Every setting once: its key, how it is stored, its default and its copy.
// The table is in the order of writing, which reading follows too: the
// recording thresholds' defaults depend on Radio/SiSel, read before them.
enum class Phase { Language, Window, Colours };
enum class Default {
    Fixed,   // `initial`
    Current, // the copy's value at reading; `initial` at process start
    Top,     // the work area's centred window rectangle
    Left,
    Bottom,
    Right,
    RecordStart, // the loaded scale's recording thresholds
    RecordStop,
};
// A copy, whichever of the three forms it takes.
using Copy = std::variant<std::int32_t*, Relaxed<std::int32_t>*, Relaxed<double>*>;

struct Definition {
    key::Key key;
    Phase phase;
    int scale; // a double copy is stored as value x scale
    Default kind;
    double initial; // in memory form
    Copy (*copy)(Settings&);
};

constexpr Definition kDefinitions[] = {
    {key::kTop, Phase::Window, 1, Default::Top, 0,
     [](Settings& s) -> Copy { return &s.windowRect.top; }},
    {key::kLeft, Phase::Window, 1, Default::Left, 0,
     [](Settings& s) -> Copy { return &s.windowRect.left; }},
    {key::kBottom, Phase::Window, 1, Default::Bottom, 0,
     [](Settings& s) -> Copy { return &s.windowRect.bottom; }},
    {key::kRight, Phase::Window, 1, Default::Right, 0,
     [](Settings& s) -> Copy { return &s.windowRect.right; }},
    {key::kTitleView, Phase::Window, 1, Default::Fixed, 0,
     [](Settings& s) -> Copy { return &s.framelessView; }},
    {key::kPortNumber, Phase::Window, 1, Default::Fixed, 0,
     [](Settings& s) -> Copy { return &s.portIndex; }},
    {key::kRadioNumber, Phase::Window, 1, Default::Fixed, defaults::kJmaWindowMode,
     [](Settings& s) -> Copy { return &s.pipeline.jmaWindowMode; }},
    {key::kScale, Phase::Window, 1, Default::Fixed, defaults::kIntensityScale,
     [](Settings& s) -> Copy { return &s.pipeline.intensityScale; }},
    {key::kAutoStart, Phase::Window, 1, Default::Fixed, 0,
     [](Settings& s) -> Copy { return &s.autoStart; }},
    {key::kMinStart, Phase::Window, 1, Default::Fixed, 0,
     [](Settings& s) -> Copy { return &s.minimiseAtStart; }},
    {key::kObsWrite, Phase::Window, 1, Default::Fixed, 1,
     [](Settings& s) -> Copy { return &s.observationLogEnabled; }},
    {key::kReceiveSiGal, Phase::Window, 1, Default::Fixed, defaults::kUseSensorSiGal,
     [](Settings& s) -> Copy { return &s.pipeline.useSensorSiGal; }},
    {key::kReceiveVelocity, Phase::Window, 1, Default::Fixed, defaults::kUseSensorVelocity,
     [](Settings& s) -> Copy { return &s.pipeline.useSensorVelocity; }},
    {key::kRecordStartVelocity, Phase::Window, 1000, Default::Fixed, defaults::kRecordStartVelocity,
     [](Settings& s) -> Copy { return &s.recorder.recordStartVelocity; }},
    {key::kRecordStartIntensity, Phase::Window, 10, Default::RecordStart,
     defaults::kRecordStartIntensity,
     [](Settings& s) -> Copy { return &s.recorder.recordStartIntensity; }},
    {key::kRecordStopIntensity, Phase::Window, 10, Default::RecordStop,
     defaults::kRecordStopIntensity,
     [](Settings& s) -> Copy { return &s.recorder.recordStopIntensity; }},
    {key::kRecordMinSeconds, Phase::Window, 1, Default::Fixed, defaults::kRecordMinSeconds,
     [](Settings& s) -> Copy { return &s.recorder.recordMinSeconds; }},
    {key::kLanguage, Phase::Language, 1, Default::Fixed, 0,
     [](Settings& s) -> Copy { return &s.LanguageIndex; }},
    {key::kBackgroundColour, Phase::Colours, 1, Default::Fixed, 0xF4C39F,
     [](Settings& s) -> Copy { return &s.backgroundColour; }},
    {key::kTextColour, Phase::Colours, 1, Default::Fixed, 0x000000,
     [](Settings& s) -> Copy { return &s.textColour; }},
    {key::kDisabledTextColour, Phase::Colours, 1, Default::Fixed, 0x6D6D6D,
     [](Settings& s) -> Copy { return &s.disabledTextColour; }},
    {key::kOnTop, Phase::Window, 1, Default::Current, 1,
     [](Settings& s) -> Copy { return &s.stayOnTop; }},
    // Our own keys follow the 22 entries, which keep their order.
    {key::kReconnect, Phase::Window, 1, Default::Fixed, 1,
     [](Settings& s) -> Copy { return &s.reconnect; }},
    {key::kNotifyClass, Phase::Window, 1, Default::Fixed, 3,
     [](Settings& s) -> Copy { return &s.notifyClass; }},
    {key::kRaiseWindow, Phase::Window, 1, Default::Fixed, 0,
     [](Settings& s) -> Copy { return &s.raiseWindow; }},
    {key::kFaceScale, Phase::Window, 1, Default::Fixed, 100,
     [](Settings& s) -> Copy { return &s.faceScale; }},
};
static_assert(std::size(kDefinitions) == 26);

std::int32_t storedForm(const Copy& copy, int scale) {
    return std::visit(
        [scale](auto* value) -> std::int32_t {
            if constexpr (std::is_same_v<decltype(value), Relaxed<double>*>) {
                return scaledToStored(value->load(), scale);
            } else {
                return *value;
            }
        },
        copy);
}

void setFromStored(const Copy& copy, std::int32_t stored, int scale) {
    std::visit(
        [stored, scale](auto* value) {
            if constexpr (std::is_same_v<decltype(value), Relaxed<double>*>) {
                value->store(storedToScaled(stored, scale));
            } else {
                *value = stored;
            }
        },
        copy);
}

void setInitial(const Copy& copy, double initial) {
    std::visit(
        [initial](auto* value) {
            if constexpr (std::is_same_v<decltype(value), Relaxed<double>*>) {
                value->store(initial);
            } else {
                *value = static_cast<std::int32_t>(initial);
            }
        },
        copy);
}

std::int32_t storedDefault(const Definition& d, const Settings& settings, const Copy& copy,
                           const WindowRect& centred) {
    switch (d.kind) {
    case Default::RecordStart:
        return scaledToStored(recordThresholdDefaults(settings.pipeline.intensityScale).start,
                              d.scale);
    case Default::RecordStop:
        return scaledToStored(recordThresholdDefaults(settings.pipeline.intensityScale).stop,
                              d.scale);
    case Default::Current:
        return storedForm(copy, d.scale);
    case Default::Top:
        return centred.top;
    case Default::Left:
        return centred.left;
    case Default::Bottom:
        return centred.bottom;
    case Default::Right:
        return centred.right;
    case Default::Fixed:
        break;
    }
    return d.scale == 1 ? static_cast<std::int32_t>(d.initial) : scaledToStored(d.initial, d.scale);
}

void load(Settings& settings, SettingsStore& store, Phase phase, const WindowRect& centred) {
    for (const Definition& d : kDefinitions) {
        if (d.phase != phase) {
            continue;
        }
        const Copy copy = d.copy(settings);
        setFromStored(
            copy,
            store.readInt(d.key.section, d.key.entry, storedDefault(d, settings, copy, centred)),
            d.scale);
    }
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

bool isFaceScale(std::int32_t percent) {
    return percent == 100 || percent == 150 || percent == 200 || percent == 300;
}

WindowRect Settings::defaultWindowRect(WorkArea workArea, std::int32_t faceScale) {
    const std::int32_t halfWidth = workArea.width / 2;
    const std::int32_t halfHeight = workArea.height / 2;
    // 422 x 248 at 100 %: the 410 x 206 face and the frame's 12 x 42.
    const std::int32_t halfOuterWidth = (410 * faceScale / 100 + 12) / 2;
    const std::int32_t halfOuterHeight = (206 * faceScale / 100 + 42) / 2;
    return {halfHeight - halfOuterHeight, halfWidth - halfOuterWidth, halfHeight + halfOuterHeight,
            halfWidth + halfOuterWidth};
}

Settings::Settings() {
    for (const Definition& d : kDefinitions) {
        setInitial(d.copy(*this), d.initial);
    }
}

void Settings::loadLanguage(SettingsStore& store) {
    load(*this, store, Phase::Language, {});
    if (LanguageIndex >= kLanguageCount) {
        LanguageIndex = 0;
    }
}

void Settings::loadWindowSettings(SettingsStore& store, WorkArea workArea) {
    const WindowRect centred = defaultWindowRect(workArea);
    load(*this, store, Phase::Window, centred);
    if (!isFaceScale(faceScale)) {
        faceScale = 100;
    }
    // The default place centres a 100 % window: a larger one would open
    // partly off the screen.
    if (faceScale != 100 && windowRect == centred) {
        windowRect = defaultWindowRect(workArea, faceScale);
    }
}

void Settings::loadColours(SettingsStore& store) {
    load(*this, store, Phase::Colours, {});
}

void Settings::saveAll(SettingsStore& store) const {
    // The table hands out writable copies; saving only reads them.
    auto& self = const_cast<Settings&>(*this);
    for (const Definition& d : kDefinitions) {
        store.writeInt(d.key.section, d.key.entry, storedForm(d.copy(self), d.scale));
    }
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
