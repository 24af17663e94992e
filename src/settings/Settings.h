#pragma once

#include "core/PipelineSettings.h"
#include "core/RecordThresholds.h"
#include "core/Relaxed.h"
#include "settings/SettingsStore.h"

#include <cstdint>
#include <string>

namespace kelvora {

// Section and entry names exactly as stored, "BackGraund" and the two
// "Number" entries included.
namespace key {
struct Key {
    const char* section;
    const char* entry;
};
inline constexpr Key kTop{"WinPos", "top"};
inline constexpr Key kLeft{"WinPos", "left"};
inline constexpr Key kBottom{"WinPos", "bottom"};
inline constexpr Key kRight{"WinPos", "right"};
inline constexpr Key kOnTop{"Other", "Ontop"};
inline constexpr Key kAutoStart{"CheckBox", "AutoStart"};
inline constexpr Key kMinStart{"CheckBox", "MinStart"};
inline constexpr Key kObsWrite{"CheckBox", "ObsWrite"};
inline constexpr Key kReceiveSiGal{"CheckBox", "Receive_SiGal"};
inline constexpr Key kReceiveVelocity{"CheckBox", "Receive_Velocity"};
inline constexpr Key kRecordStartVelocity{"WaveRec", "waveRecStaPgv"};
inline constexpr Key kRecordStartIntensity{"WaveRec", "waveRecStaSi"};
inline constexpr Key kRecordStopIntensity{"WaveRec", "waveRecStopSi"};
inline constexpr Key kRecordMinSeconds{"WaveRec", "waveRecStopSec"};
inline constexpr Key kTitleView{"Title", "View"};
inline constexpr Key kPortNumber{"Port", "Number"};
inline constexpr Key kRadioNumber{"Radio", "Number"};
inline constexpr Key kScale{"Radio", "SiSel"};
inline constexpr Key kLanguage{"Language", "LangNo"};
inline constexpr Key kBackgroundColour{"FormColor", "BackGraund"};
inline constexpr Key kTextColour{"FormColor", "StaticText"};
inline constexpr Key kDisabledTextColour{"FormColor", "StaticText2"};
// Our own, written after the 22 above.
inline constexpr Key kReconnect{"Receive", "Reconnect"};
inline constexpr Key kFaceScale{"Display", "Scale"};
inline constexpr Key kNotifyClass{"Alert", "NotifyClass"};
inline constexpr Key kRaiseWindow{"Alert", "RaiseWindow"};
} // namespace key

// The main window's normal rectangle in screen pixels (always the framed one).
struct WindowRect {
    std::int32_t top = 0;
    std::int32_t left = 0;
    std::int32_t bottom = 0;
    std::int32_t right = 0;
    bool operator==(const WindowRect&) const = default;
};

// The desktop work area the default rectangle is centred in.
struct WorkArea {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

inline constexpr int kLanguageCount = 5;

// The in-memory copy of every setting. The user-interface thread loads,
// changes and saves them; the values the receive thread reads every frame are
// Relaxed. A new object holds every default (the window rectangle, which
// depends on the work area, excepted): the settings dialog's Reset takes its
// values from one.
struct Settings {
    Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    WindowRect windowRect;
    std::int32_t stayOnTop;
    std::int32_t autoStart;
    std::int32_t minimiseAtStart;
    std::int32_t observationLogEnabled;
    std::int32_t framelessView;
    std::int32_t portIndex;
    // 0 to 4; any other value, negative ones too, is kept and means English.
    std::int32_t LanguageIndex;
    std::int32_t backgroundColour; // 0x00BBGGRR
    std::int32_t textColour;
    std::int32_t disabledTextColour;
    PipelineSettings pipeline; // useSensorSiGal, useSensorVelocity, jmaWindowMode, IntensityScale
    RecorderSettings recorder; // recordStart/StopIntensity, recordMinSeconds, recordStartVelocity
    // 1: a port lost while receiving is opened again until the device is back.
    std::int32_t reconnect;
    // The face's size in percent: 100, 150, 200 or 300; anything else loads as 100.
    std::int32_t faceScale;
    // The class (0..9 on the scale in use) from which shaking while the
    // window is out of sight gives a desktop notification; 10 or more: never.
    std::int32_t notifyClass;
    // 1: that shaking also brings the window to the front.
    std::int32_t raiseWindow;

    // Application start-up, before any window: the language alone. A value
    // of 5 or more becomes 0.
    void loadLanguage(SettingsStore& store);
    // Main-window initialisation: everything but the language and the colours.
    // An absent start or stop threshold takes the default of the scale loaded
    // (Radio/SiSel is read first); a stored one is kept as it is. Without a
    // stored place, a larger face is centred for its own size.
    void loadWindowSettings(SettingsStore& store, WorkArea workArea);
    // The end of the same initialisation.
    void loadColours(SettingsStore& store);
    // Window destruction: all 22 entries in one pass, then our own.
    void saveAll(SettingsStore& store) const;

    // Centred in the work area: the window at 100 % with its frame, or at
    // `faceScale` percent (the frame does not grow).
    static WindowRect defaultWindowRect(WorkArea workArea, std::int32_t faceScale = 100);
};

// The face's sizes, in percent: 100, 150, 200 and 300.
bool isFaceScale(std::int32_t percent);

// A scaled double as stored: value × factor rounded to the nearest integer,
// so a value read and written back never drifts.
std::int32_t scaledToStored(double value, int factor);
double storedToScaled(std::int32_t stored, int factor);

// Colour values are 0x00BBGGRR; shown as "#RRGGBB" in upper-case hex.
std::string colourToHex(std::int32_t colour);
// Parses "#RRGGBB" (case-insensitive); false when the text is not one.
bool hexToColour(const std::string& text, std::int32_t& colour);

} // namespace kelvora
