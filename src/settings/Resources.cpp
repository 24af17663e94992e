#include "settings/Resources.h"

#include "settings/Language.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtDebug>

#include <array>
#include <cstdlib>
#include <map>

namespace kelvora {

namespace {

constexpr int kVariantCount = 5;
constexpr int kEnglish = 1;
const std::array<const char*, kVariantCount> kFolders = {"jpn", "eng", "cht", "chs", "kor"};

// A resource's variants by variant number (0 jpn ... 4 kor).
template <class T> using Variants = std::map<int, T>;

struct Menu {
    QString title;
    std::vector<MenuItem> items;
};

struct Data {
    std::map<int, Variants<QString>> strings;
    std::map<QString, Variants<QString>> messages;
    Variants<QString> languageNames;
    std::map<QString, Variants<QString>> background;
    std::map<int, Variants<Menu>> menus;
    std::map<int, Variants<DialogTemplate>> dialogs;
};

// The variant that serves a language (see Resources.h).
template <class T> const T* pick(const Variants<T>& variants, int languageIndex) {
    if (variants.empty()) {
        return nullptr;
    }
    if (const auto own = variants.find(languageVariant(languageIndex)); own != variants.end()) {
        return &own->second;
    }
    if (variants.size() > 1) {
        if (const auto english = variants.find(kEnglish); english != variants.end()) {
            return &english->second;
        }
    }
    return &variants.begin()->second;
}

int variantOfFolder(const QString& folder) {
    for (int v = 0; v < kVariantCount; ++v) {
        if (folder == QLatin1String(kFolders[static_cast<std::size_t>(v)])) {
            return v;
        }
    }
    return -1;
}

QJsonObject readObject(const char* name) {
    const QString path = QStringLiteral(":/kelvora/") + QLatin1String(name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("kelvora: resource file %s is missing", name);
        return {};
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qWarning("kelvora: %s: %s at offset %d", name, qPrintable(error.errorString()),
                 error.offset);
        return {};
    }
    return document.object();
}

// {"jpn": ..., "eng": ...} through `parse` into variants; unknown folders
// are left out with a warning.
template <class T, class Parse>
Variants<T> parseVariants(const QJsonValue& value, const QString& where, Parse parse) {
    Variants<T> variants;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const int variant = variantOfFolder(it.key());
        if (variant < 0) {
            qWarning("kelvora: %s: unknown language folder \"%s\"", qPrintable(where),
                     qPrintable(it.key()));
            continue;
        }
        variants.emplace(variant, parse(it.value()));
    }
    return variants;
}

QString parseText(const QJsonValue& value) {
    return value.toString();
}

std::map<QString, Variants<QString>> parseNamedTexts(const QJsonObject& object,
                                                     const QString& where) {
    std::map<QString, Variants<QString>> texts;
    for (auto it = object.begin(); it != object.end(); ++it) {
        texts.emplace(it.key(),
                      parseVariants<QString>(it.value(), where + '/' + it.key(), parseText));
    }
    return texts;
}

// Resources by number: keys that are not numbers are left out.
template <class T, class Parse>
std::map<int, Variants<T>> parseNumbered(const QJsonObject& object, const QString& where,
                                         Parse parse) {
    std::map<int, Variants<T>> resources;
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool ok = false;
        const int id = it.key().toInt(&ok);
        if (!ok) {
            qWarning("kelvora: %s: \"%s\" is no resource number", qPrintable(where),
                     qPrintable(it.key()));
            continue;
        }
        resources.emplace(id, parseVariants<T>(it.value(), where + '/' + it.key(), parse));
    }
    return resources;
}

Menu parseMenu(const QJsonValue& value) {
    const QJsonObject object = value.toObject();
    Menu menu;
    menu.title = object.value(QLatin1String("title")).toString();
    for (const QJsonValue& entry : object.value(QLatin1String("items")).toArray()) {
        const QJsonObject item = entry.toObject();
        MenuItem parsed;
        parsed.separator = item.value(QLatin1String("separator")).toBool(false);
        if (!parsed.separator) {
            parsed.command = item.value(QLatin1String("command")).toInt();
            parsed.text = item.value(QLatin1String("text")).toString();
        }
        menu.items.push_back(parsed);
    }
    return menu;
}

QStringList parseStrings(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& entry : value.toArray()) {
        list.append(entry.toString());
    }
    return list;
}

QRect parseRect(const QJsonValue& value) {
    const QJsonArray a = value.toArray();
    return {a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt(), a.at(3).toInt()};
}

QSize parseSize(const QJsonValue& value) {
    const QJsonArray a = value.toArray();
    return {a.at(0).toInt(), a.at(1).toInt()};
}

DialogTemplate parseDialog(const QJsonValue& value) {
    const QJsonObject object = value.toObject();
    DialogTemplate dialog;
    dialog.title = object.value(QLatin1String("title")).toString();
    const QJsonObject font = object.value(QLatin1String("font")).toObject();
    dialog.fontFamily = font.value(QLatin1String("family")).toString();
    dialog.fontPointSize = font.value(QLatin1String("pointSize")).toInt();
    dialog.units = parseSize(object.value(QLatin1String("size")));
    dialog.baseUnits = parseSize(object.value(QLatin1String("baseUnits")));
    dialog.styles = parseStrings(object.value(QLatin1String("style")));
    for (const QJsonValue& entry : object.value(QLatin1String("controls")).toArray()) {
        const QJsonObject c = entry.toObject();
        DialogControl control;
        control.id = c.value(QLatin1String("id")).toInt(-1);
        control.kind = c.value(QLatin1String("kind")).toString();
        control.unitsRect = parseRect(c.value(QLatin1String("rect")));
        control.caption = c.value(QLatin1String("caption")).toString();
        control.styles = parseStrings(c.value(QLatin1String("style")));
        control.labelFor = c.value(QLatin1String("for")).toInt(0);
        dialog.controls.push_back(control);
    }
    return dialog;
}

Data load() {
    Data data;
    const QJsonObject strings = readObject("strings.json");
    data.strings = parseNumbered<QString>(strings.value(QLatin1String("strings")).toObject(),
                                          QStringLiteral("strings"), parseText);
    data.messages = parseNamedTexts(strings.value(QLatin1String("messages")).toObject(),
                                    QStringLiteral("messages"));
    data.languageNames = parseVariants<QString>(strings.value(QLatin1String("languageNames")),
                                                QStringLiteral("languageNames"), parseText);
    data.background = parseNamedTexts(strings.value(QLatin1String("background")).toObject(),
                                      QStringLiteral("background"));
    data.menus = parseNumbered<Menu>(readObject("menus.json"), QStringLiteral("menus"), parseMenu);
    data.dialogs = parseNumbered<DialogTemplate>(readObject("dialogs.json"),
                                                 QStringLiteral("dialogs"), parseDialog);
    return data;
}

// Read once, on first use, and never changed: safe to share between threads.
const Data& data() {
    static const Data loaded = load();
    return loaded;
}

const char* messageName(Message message) {
    switch (message) {
    case Message::AlreadyRunning:
        return "already-running";
    case Message::CannotOpenFile:
        return "cannot-open-file";
    case Message::PortOpenFailed:
        return "port-open-failed";
    case Message::BufferSetupFailed:
        return "buffer-setup-failed";
    case Message::PurgeFailed:
        return "purge-failed";
    case Message::UartSetupFailed:
        return "uart-setup-failed";
    case Message::TimeoutSetupFailed:
        return "timeout-setup-failed";
    case Message::PortUnmapped:
        return "port-unmapped";
    case Message::PortNoDevice:
        return "port-no-device";
    case Message::PortPermissionDenied:
        return "port-permission-denied";
    case Message::PortHeld:
        return "port-held";
    case Message::PortNotSerial:
        return "port-not-serial";
    case Message::PortSystemError:
        return "port-system-error";
    case Message::EnterNumber:
        return "enter-number";
    case Message::EnterInteger:
        return "enter-integer";
    case Message::TextTooLong:
        return "text-too-long";
    case Message::EnterColour:
        return "enter-colour";
    case Message::TrayTip:
        return "tray-tip";
    case Message::VersionLine:
        return "version-line";
    case Message::ManualFile:
        return "manual-file";
    case Message::VelocityTrigger0013:
        return "velocity-trigger-0.013";
    case Message::VelocityTrigger0020:
        return "velocity-trigger-0.020";
    case Message::VelocityTrigger0100:
        return "velocity-trigger-0.100";
    case Message::VelocityTriggerOff:
        return "velocity-trigger-off";
    case Message::VelocityTriggerIs:
        return "velocity-trigger-is";
    case Message::VelocityTriggerIsOff:
        return "velocity-trigger-is-off";
    case Message::NumberOutOfRange:
        return "number-out-of-range";
    case Message::WholeSecondsOutOfRange:
        return "whole-seconds-out-of-range";
    case Message::ProposeMercalliThresholds:
        return "propose-mercalli-thresholds";
    case Message::LineNoData:
        return "line-no-data";
    case Message::LineDisconnected:
        return "line-disconnected";
    case Message::LineNoDataSince:
        return "line-no-data-since";
    case Message::AlertTitle:
        return "alert-title";
    case Message::AlertReadingJma:
        return "alert-reading-jma";
    case Message::AlertReadingMercalli:
        return "alert-reading-mercalli";
    case Message::AlertAt:
        return "alert-at";
    }
    return "";
}

const char* captionName(FaceCaption caption) {
    switch (caption) {
    case FaceCaption::Title:
        return "title";
    case FaceCaption::Intensity:
        return "intensity";
    case FaceCaption::Pga:
        return "pga";
    case FaceCaption::Pgv:
        return "pgv";
    case FaceCaption::Axes:
        return "axes";
    case FaceCaption::XAxis:
        return "x-axis";
    case FaceCaption::YAxis:
        return "y-axis";
    case FaceCaption::ZAxis:
        return "z-axis";
    case FaceCaption::Temperature:
        return "temperature";
    case FaceCaption::Humidity:
        return "humidity";
    case FaceCaption::Pressure:
        return "pressure";
    case FaceCaption::SeaLevelPressure:
        return "sea-level-pressure";
    case FaceCaption::UnitGal:
        return "unit-gal";
    case FaceCaption::UnitVelocity:
        return "unit-velocity";
    case FaceCaption::UnitTemperature:
        return "unit-temperature";
    case FaceCaption::UnitHumidity:
        return "unit-humidity";
    case FaceCaption::UnitPressure:
        return "unit-pressure";
    }
    return "";
}

QString namedText(const std::map<QString, Variants<QString>>& texts, const char* name,
                  int languageIndex) {
    const auto it = texts.find(QLatin1String(name));
    if (it == texts.end()) {
        return {};
    }
    const QString* text = pick(it->second, languageIndex);
    return text != nullptr ? *text : QString();
}

template <class T>
const T* lookup(const std::map<int, Variants<T>>& resources, int id, int languageIndex) {
    const auto it = resources.find(id);
    return it == resources.end() ? nullptr : pick(it->second, languageIndex);
}

// MulDiv's rounding: to the nearest integer, halves away from zero.
int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long magnitude = (std::llabs(product) + denominator / 2) / denominator;
    return static_cast<int>(product < 0 ? -magnitude : magnitude);
}

template <class T> QStringList foldersOf(const std::map<int, Variants<T>>& resources, int id) {
    QStringList folders;
    if (const auto it = resources.find(id); it != resources.end()) {
        for (const auto& [variant, value] : it->second) {
            folders.append(QLatin1String(kFolders[static_cast<std::size_t>(variant)]));
        }
    }
    return folders;
}

template <class T> std::vector<int> idsOf(const std::map<int, Variants<T>>& resources) {
    std::vector<int> ids;
    for (const auto& [id, variants] : resources) {
        ids.push_back(id);
    }
    return ids;
}

} // namespace

int languageVariant(int languageIndex) {
    switch (languageIndex) {
    case 0:
    case 2:
    case 3:
    case 4:
        return languageIndex;
    default:
        return kEnglish;
    }
}

QString languageFolder(int languageIndex) {
    return QLatin1String(kFolders[static_cast<std::size_t>(languageVariant(languageIndex))]);
}

QString languageDisplayName(int languageIndex) {
    if (languageIndex < 0 || languageIndex >= kVariantCount) {
        return {};
    }
    const auto it = data().languageNames.find(languageIndex);
    return it != data().languageNames.end() ? it->second : QString();
}

QString resourceString(int id, int languageIndex) {
    const QString* text = lookup(data().strings, id, languageIndex);
    return text != nullptr ? *text : QString();
}

QString resourceString(int id) {
    return resourceString(id, currentLanguage());
}

QString messageText(Message message, int languageIndex) {
    return namedText(data().messages, messageName(message), languageIndex);
}

QString messageText(Message message) {
    return messageText(message, currentLanguage());
}

QString faceCaption(FaceCaption caption, int languageIndex) {
    return namedText(data().background, captionName(caption), languageIndex);
}

std::vector<MenuItem> resourceMenu(int id, int languageIndex) {
    const Menu* menu = lookup(data().menus, id, languageIndex);
    return menu != nullptr ? menu->items : std::vector<MenuItem>{};
}

std::vector<MenuItem> resourceMenu(int id) {
    return resourceMenu(id, currentLanguage());
}

QString resourceMenuTitle(int id, int languageIndex) {
    const Menu* menu = lookup(data().menus, id, languageIndex);
    return menu != nullptr ? menu->title : QString();
}

const DialogControl* DialogTemplate::control(int id) const {
    if (id == -1) {
        return nullptr;
    }
    for (const DialogControl& c : controls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

const DialogControl* DialogTemplate::labelOf(int id) const {
    for (const DialogControl& c : controls) {
        if (c.labelFor == id && c.kind == QLatin1String("static")) {
            return &c;
        }
    }
    return nullptr;
}

QSize DialogTemplate::pixelSize() const {
    return dialogUnitsToPixels(units, baseUnits);
}

QRect DialogTemplate::pixelRect(const DialogControl& c) const {
    return dialogUnitsToPixels(c.unitsRect, baseUnits);
}

DialogTemplate resourceDialog(int id, int languageIndex) {
    const DialogTemplate* dialog = lookup(data().dialogs, id, languageIndex);
    return dialog != nullptr ? *dialog : DialogTemplate{};
}

DialogTemplate resourceDialog(int id) {
    return resourceDialog(id, currentLanguage());
}

QRect dialogUnitsToPixels(const QRect& units, QSize baseUnits) {
    return {mulDiv(units.x(), baseUnits.width(), 4), mulDiv(units.y(), baseUnits.height(), 8),
            mulDiv(units.width(), baseUnits.width(), 4),
            mulDiv(units.height(), baseUnits.height(), 8)};
}

QSize dialogUnitsToPixels(const QSize& units, QSize baseUnits) {
    return {mulDiv(units.width(), baseUnits.width(), 4),
            mulDiv(units.height(), baseUnits.height(), 8)};
}

QStringList resourceFolders(ResourceKind kind, int id) {
    switch (kind) {
    case ResourceKind::String:
        return foldersOf(data().strings, id);
    case ResourceKind::Menu:
        return foldersOf(data().menus, id);
    case ResourceKind::Dialog:
        return foldersOf(data().dialogs, id);
    }
    return {};
}

std::vector<int> resourceIds(ResourceKind kind) {
    switch (kind) {
    case ResourceKind::String:
        return idsOf(data().strings);
    case ResourceKind::Menu:
        return idsOf(data().menus);
    case ResourceKind::Dialog:
        return idsOf(data().dialogs);
    }
    return {};
}

} // namespace kelvora
