#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

namespace kelvora {

// The program's texts, menus and dialog templates, looked up by resource
// number in a language. They live in res/strings.json, res/menus.json and
// res/dialogs.json, compiled into the program; each resource has variants
// keyed by language folder ("jpn", "eng", "cht", "chs", "kor").
//
// Which variant serves a language: the language's own; else, for a
// resource that has one variant only, that one (the single-language
// resources are stored as Japanese and serve every language); else English;
// else the first variant in folder order. An unknown language index looks up
// English. A resource that does not exist gives an empty result.
//
// Every function may be called from any thread: the data is read once and
// never changes.

// 0 jpn, 1 eng, 2 cht, 3 chs, 4 kor: the variant a LanguageIndex selects.
// Every index other than 0, 2, 3 and 4, negative ones included, gives 1.
int languageVariant(int languageIndex);
// "jpn", "eng", "cht", "chs" or "kor", by languageVariant.
QString languageFolder(int languageIndex);
// The name the language list shows: "日本語 (jpn)" ... "한국어 (kor)" for 0 to
// 4; empty for any other index, which has no list entry.
QString languageDisplayName(int languageIndex);

// Strings 101 and 40000 to 40004.
QString resourceString(int id, int languageIndex);
QString resourceString(int id); // in currentLanguage()

// The fixed texts the program shows or uses, in the five languages where
// they are words (the version line, the manual's name and a bare system
// text have one variant). Their names in res/strings.json are given beside
// each.
enum class Message {
    AlreadyRunning,     // "already-running": a second instance was started
    CannotOpenFile,     // "cannot-open-file": the manual could not be opened
    PortOpenFailed,     // "port-open-failed": reception start, opening the port
    BufferSetupFailed,  // "buffer-setup-failed": reception start, queue sizes
    PurgeFailed,        // "purge-failed": reception start, clearing the buffers
    UartSetupFailed,    // "uart-setup-failed": reception start, line settings
    TimeoutSetupFailed, // "timeout-setup-failed": reception start, time-outs
    // Why the port did not open, below PortOpenFailed: "%1" is "COM<n>",
    // "%2" its device path.
    PortUnmapped,         // "port-unmapped": the number names no device (no "%2")
    PortNoDevice,         // "port-no-device": the device node does not exist
    PortPermissionDenied, // "port-permission-denied": no access, with the dialout hint
    PortHeld,             // "port-held": another program holds the port
    PortNotSerial,        // "port-not-serial": the node is no terminal
    PortSystemError,      // "port-system-error": any other cause, "%3" the system's text
    EnterNumber,          // "enter-number": settings dialog, a field needs a number
    EnterInteger,         // "enter-integer": settings dialog, a field needs an integer
    TextTooLong,          // "text-too-long": settings dialog, "%1" is the most characters
    EnterColour,          // "enter-colour": settings dialog, a field needs "#RRGGBB"
    TrayTip,              // "tray-tip": the tray icon's tooltip, two lines
    VersionLine,          // "version-line": the about box's text
    ManualFile,           // "manual-file": the user manual's file name
    VelocityTrigger0013,  // "velocity-trigger-0.013": Ctrl+Alt+V switched it to 0.013
    VelocityTrigger0020,  // "velocity-trigger-0.020": ... to 0.020
    VelocityTrigger0100,  // "velocity-trigger-0.100": ... to 0.100
    VelocityTriggerOff,   // "velocity-trigger-off": ... off
    VelocityTriggerIs,    // "velocity-trigger-is": Ctrl+Alt+S, "%1" is the value
    VelocityTriggerIsOff, // "velocity-trigger-is-off": Ctrl+Alt+S while off
    // Settings dialog, a field out of range: "%1" the field, "%2" to "%3" the range.
    NumberOutOfRange,          // "number-out-of-range": a number
    WholeSecondsOutOfRange,    // "whole-seconds-out-of-range": whole seconds
    ProposeMercalliThresholds, // "propose-mercalli-thresholds": "%1", "%2" JMA, "%3", "%4" Mercalli
    // The line's health on the face and in the tray's tooltip.
    LineNoData,       // "line-no-data": the no-data tile's caption
    LineDisconnected, // "line-disconnected": the tile's caption while the port is reopened
    LineNoDataSince,  // "line-no-data-since": "%1" is the time of the last frame
    // Shaking while the window is out of sight: the desktop notification and
    // the tray's tooltip. "%1" is the class's label, "%2" the intensity.
    AlertTitle,           // "alert-title": the notification's title
    AlertReadingJma,      // "alert-reading-jma": the class and intensity, JMA scale
    AlertReadingMercalli, // "alert-reading-mercalli": the same, Mercalli scale
    AlertAt,              // "alert-at": "%1" a reading, "%2" the time of the event's peak
};
QString messageText(Message message, int languageIndex);
QString messageText(Message message); // in currentLanguage()

// The captions drawn into the built-in background (bitmap 129), by place;
// the units have one variant for every language.
enum class FaceCaption {
    Title,     // top of the left box
    Intensity, // under the intensity value
    Pga,       // the PGA box
    Pgv,       // the PGV box
    Axes,      // the per-axis box
    XAxis,     // rows of the per-axis box
    YAxis,
    ZAxis,
    Temperature, // the weather box
    Humidity,
    Pressure, // the pressure box
    SeaLevelPressure,
    UnitGal,         // beside PGA and each axis
    UnitVelocity,    // beside PGV
    UnitTemperature, // beside the temperature
    UnitHumidity,    // beside the humidity
    UnitPressure,    // beside both pressures
};
QString faceCaption(FaceCaption caption, int languageIndex);

// One item of a menu's pop-up: a command with its text ("&" marks the
// access key), or a separator (command 0, no text).
struct MenuItem {
    int command = 0;
    QString text;
    bool separator = false;
};
// Menus 150 (context menu) and 154 (tray menu): the items of the pop-up in
// order; empty when the menu does not exist.
std::vector<MenuItem> resourceMenu(int id, int languageIndex);
std::vector<MenuItem> resourceMenu(int id); // in currentLanguage()
// The pop-up's own title, which is never shown.
QString resourceMenuTitle(int id, int languageIndex);

// One control of a dialog template. Kinds: "static", "edit", "button",
// "checkbox", "radio", "combobox", "groupbox", "frame", "icon". Styles
// that matter: "default" (default push button), "disabled", "group" (starts
// a group, e.g. the first radio button of a pair), "readonly", "right"
// (right-aligned text), "border" / "noborder", "dropdownlist" (a list
// without an edit part), "auto" (check boxes and radio buttons that check
// themselves), "grouptitle" (the static text on the top edge of a group box).
struct DialogControl {
    int id = -1; // -1 for a static without a number of its own
    QString kind;
    QRect unitsRect; // dialog units
    QString caption; // for an icon, the icon's resource number
    QStringList styles;
    int labelFor = 0; // for a static that labels a control: that control's id

    bool hasStyle(const QString& style) const { return styles.contains(style); }
};

struct DialogTemplate {
    QString title;
    QString fontFamily; // as the template names it: "MS UI Gothic", "MS Shell Dlg"
    int fontPointSize = 0;
    QSize units;     // client area in dialog units
    QSize baseUnits; // pixels per 4 horizontal and 8 vertical units: 7x12, 6x13
    QStringList styles;
    std::vector<DialogControl> controls;

    bool isNull() const { return controls.empty(); }
    // The control with this id, or nullptr (never for id -1).
    const DialogControl* control(int id) const;
    // The static text labelling control `id`, or nullptr.
    const DialogControl* labelOf(int id) const;
    QSize pixelSize() const;
    QRect pixelRect(const DialogControl& control) const;
};
// Templates 100 (about box), 102 (main window), 151 (language dialog) and
// 152 (settings dialog); a null template when it does not exist.
DialogTemplate resourceDialog(int id, int languageIndex);
DialogTemplate resourceDialog(int id); // in currentLanguage()

// Dialog units to pixels as the dialog manager maps them: x * bx / 4 and
// y * by / 8, each of x, y, width and height on its own, rounded to the
// nearest pixel (halves away from zero).
QRect dialogUnitsToPixels(const QRect& units, QSize baseUnits);
QSize dialogUnitsToPixels(const QSize& units, QSize baseUnits);

// What exists, for translators' checks: the folders a resource has variants
// for, in folder order; empty when it does not exist.
enum class ResourceKind { String, Menu, Dialog };
QStringList resourceFolders(ResourceKind kind, int id);
// Every number of the kind present in the data files, ascending.
std::vector<int> resourceIds(ResourceKind kind);

} // namespace kelvora
