#include "settings/CKelvoraSetdata.h"

#include "monitor/KeyboardShortcuts.h"
#include "settings/Language.h"
#include "settings/Resources.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>

namespace kelvora {

namespace {

constexpr int kSaveButton = 1;
constexpr int kCancelButton = 2;
constexpr int kResetButton = 1038;
constexpr int kPortList = 1013;
constexpr int kStartIntensityEdit = 1026;
constexpr int kStopIntensityEdit = 1027;
constexpr int kMinimumSecondsEdit = 1028;
constexpr std::array<int, 3> kColourEdits{1029, 1030, 1031};
constexpr int kFramesReadout = 1032;
constexpr int kJmaAccelReadout = 1033;
constexpr int kColourTextLength = 7;
constexpr double kLowestStartIntensity = -2.9;
constexpr double kHighestStartIntensity = 13.0;
constexpr double kLowestStopIntensity = -3.0;
constexpr double kHighestStopIntensity = 12.9;
constexpr std::int32_t kFewestSeconds = 10;
constexpr std::int32_t kMostSeconds = 300;
constexpr int kJmaScaleRadio = 1016;
constexpr int kMercalliScaleRadio = 1017;
constexpr std::size_t kMostPorts = 255;
constexpr int kTickMilliseconds = 50;
constexpr int kDeviceRole = Qt::UserRole;

// Client pixels, bounds inclusive, over a caption and mostly its button too.
// They were placed over the English layout and stay put in every language.
struct HotZone {
    int control;
    int partner; // the other radio button of a pair; 0 for a check box
    int left, right, top, bottom;

    bool contains(QPoint p) const {
        return p.x() >= left && p.x() <= right && p.y() >= top && p.y() <= bottom;
    }
};
constexpr std::array<HotZone, 10> kHotZones{{
    {1014, 1015, 281, 359, 33, 47},
    {1015, 1014, 396, 454, 33, 47},
    {1016, 1017, 281, 464, 233, 249},
    {1017, 1016, 281, 464, 258, 274},
    {1021, 0, 281, 464, 105, 121},
    {1022, 0, 281, 464, 133, 149},
    {1039, 0, 281, 464, 157, 173},
    {1023, 0, 281, 464, 356, 374},
    {1024, 0, 281, 464, 383, 401},
    {1025, 0, 281, 464, 411, 429},
}};
// The radio zones, first in the table, rest while reception runs: the JMA
// window and the scale are not to change under a running computation.
constexpr std::size_t kRadioZones = 4;

bool zoneRests(std::size_t zone, bool receiving) {
    return zone < kRadioZones && receiving;
}

// Numbers are read the same whatever the user's locale (Qt sets it from
// the environment).
locale_t cNumericLocale() {
    static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

QString formatIntensity(double value) {
    // "%.15g", independent of the locale.
    char text[64];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15).ptr;
    return QString::fromLatin1(text, static_cast<qsizetype>(end - text));
}

// Toward zero to a multiple of 0.1.
double truncateToTenth(double value) {
    return std::trunc(value * 10) / 10;
}

// The open list shows each port with the device it opens; the closed box
// shows the item's own text, the COM number alone.
class PortListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QString openText(const QModelIndex& index) {
        const QString device = index.data(kDeviceRole).toString();
        const QString number = index.data(Qt::DisplayRole).toString();
        return device.isEmpty() ? number : number + QStringLiteral("  ") + device;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = openText(index);
    }
};

} // namespace

QString colourText(std::int32_t colour) {
    // "%06X" gives BBGGRR; its pairs are shown in the other order.
    const QString digits = QString::asprintf("%06X", static_cast<unsigned>(colour));
    return QLatin1Char('#') + digits.mid(4, 2) + digits.mid(2, 2) + digits.mid(0, 2);
}

bool parseColourText(const QString& text, std::int32_t& colour) {
    // Blanks around it are let through, as the number fields skip them.
    return hexToColour(text.trimmed().toStdString(), colour);
}

bool parseLeadingNumber(const QString& text, double& value) {
    const QByteArray bytes = text.toUtf8();
    char* end = nullptr;
    const double parsed = strtod_l(bytes.constData(), &end, cNumericLocale());
    // "nan" would pass every clamp and switch the recorder's threshold off
    // without a word: it is refused like any other text.
    if (end == bytes.constData() || std::isnan(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

bool leadingNumberIsWhole(const QString& text) {
    double value = 0;
    return !parseLeadingNumber(text, value) || value == std::trunc(value);
}

bool parseLeadingInteger(const QString& text, std::int32_t& value) {
    const QByteArray bytes = text.left(63).toUtf8();
    char* end = nullptr;
    const long long parsed = std::strtoll(bytes.constData(), &end, 10);
    if (end == bytes.constData()) {
        return false;
    }
    value = static_cast<std::int32_t>(std::clamp<long long>(parsed, INT32_MIN, INT32_MAX));
    return true;
}

CKelvoraSetdata::CKelvoraSetdata(Settings& settings, SettingsDialogSource& source, QWidget* parent)
    : QDialog(parent), settings_(settings), source_(source),
      widgets_(*this, resourceDialog(152), currentLanguage()) {
    setMouseTracking(true); // hover over the hot zones
    prompt = [this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Kelvora"), text, QMessageBox::Ok,
                        this);
        box.exec();
    };
    ask = [this](const QString& text) {
        return QMessageBox::question(this, QStringLiteral("Kelvora"), text) == QMessageBox::Yes;
    };
    for (const int id : kColourEdits) {
        edit(id)->setMaxLength(kColourTextLength);
    }
    if (auto* list = widgets_.as<QComboBox>(kPortList)) {
        list->setItemDelegate(new PortListDelegate(list));
    }
    connect(widgets_.as<QPushButton>(kSaveButton), &QPushButton::clicked, this,
            &CKelvoraSetdata::accept);
    connect(widgets_.as<QPushButton>(kCancelButton), &QPushButton::clicked, this,
            &CKelvoraSetdata::reject);
    connect(widgets_.as<QPushButton>(kResetButton), &QPushButton::clicked, this,
            &CKelvoraSetdata::reset);
    for (const int scale : {0, 1}) {
        const int id = scale == 0 ? kJmaScaleRadio : kMercalliScaleRadio;
        if (auto* radio = widgets_.as<QAbstractButton>(id)) {
            connect(radio, &QAbstractButton::toggled, this, [this, scale](bool checked) {
                if (checked) {
                    scaleChosen(scale);
                }
            });
        }
    }
    showValues(); // the placeholders: 0, 0, 0 and empty colours

    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &CKelvoraSetdata::timerTick);
    timer_.start();
}

QLineEdit* CKelvoraSetdata::edit(int id) const {
    return widgets_.as<QLineEdit>(id);
}

QString CKelvoraSetdata::openListText(int item) const {
    const auto* list = widgets_.as<QComboBox>(kPortList);
    if (item < 0 || item >= list->count()) {
        return {};
    }
    // Through the view's delegate, so this is what the open list shows.
    const QModelIndex index = list->model()->index(item, list->modelColumn());
    if (dynamic_cast<PortListDelegate*>(list->view()->itemDelegate()) == nullptr) {
        return index.data(Qt::DisplayRole).toString();
    }
    return PortListDelegate::openText(index);
}

void CKelvoraSetdata::timerTick() {
    if (!setupDone_) {
        setup();
    }
    showCaptionColours(source_.receiveActive());
    const QString frames = QString::number(source_.framesPerSecond());
    if (edit(kFramesReadout)->text() != frames) {
        edit(kFramesReadout)->setText(frames);
    }
    const QString jmaAccel = source_.jmaAccelText();
    if (edit(kJmaAccelReadout)->text() != jmaAccel) {
        edit(kJmaAccelReadout)->setText(jmaAccel);
    }
}

void CKelvoraSetdata::setup() {
    QFont colourFont(settings_.LanguageIndex == 0 ? QString::fromUtf8("ＭＳ ゴシック")
                                                  : QStringLiteral("Courier New"));
    colourFont.setPointSize(9);
    for (const int id : kColourEdits) {
        edit(id)->setFont(colourFont);
    }
    setDialogColours(*this, colourFromSetting(settings_.backgroundColour),
                     colourFromSetting(settings_.textColour));
    captionsShownReceiving_ = -1; // the dialog's text colour changed under them

    fillPortList();

    // As the program reads them: these four act only when exactly 1.
    setCheck(1021, settings_.autoStart == 1);
    setCheck(1022, settings_.minimiseAtStart == 1);
    setCheck(1039, settings_.observationLogEnabled == 1);
    setCheck(1023, settings_.stayOnTop == 1);
    setCheck(1024, settings_.pipeline.useSensorSiGal != 0);
    setCheck(1025, settings_.pipeline.useSensorVelocity != 0);

    // The two short captions get the room right of their buttons, in every layout.
    widgets_.control(1034)->setGeometry(303, 35, 68, 14);
    widgets_.control(1035)->setGeometry(397, 35, 68, 14);

    setCheck(settings_.pipeline.jmaWindowMode != 0 ? 1014 : 1015, true);
    setCheck(settings_.pipeline.intensityScale == 0 ? 1016 : 1017, true);

    colourTexts_ = {colourText(settings_.backgroundColour), colourText(settings_.textColour),
                    colourText(settings_.disabledTextColour)};

    // Decided once: a start or stop while the dialog is open leaves them so.
    const bool enable = !source_.receiveActive();
    for (const int id : {1014, 1015, kPortList, 1016, 1017}) {
        widgets_.control(id)->setEnabled(enable);
    }

    startIntensity_ = settings_.recorder.recordStartIntensity;
    stopIntensity_ = settings_.recorder.recordStopIntensity;
    minimumSeconds_ = settings_.recorder.recordMinSeconds;
    showValues();
    setupDone_ = true;
}

void CKelvoraSetdata::fillPortList() {
    ports_ = source_.ports();
    if (ports_.size() > kMostPorts) {
        ports_.resize(kMostPorts);
    }
    std::stable_sort(
        ports_.begin(), ports_.end(),
        [](const SerialPortChoice& a, const SerialPortChoice& b) { return a.number < b.number; });
    auto* list = widgets_.as<QComboBox>(kPortList);
    list->clear();
    int selected = -1;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const SerialPortChoice& port = ports_[i];
        list->addItem(QStringLiteral("COM%1").arg(port.number), port.device);
        if (static_cast<long long>(port.number) ==
            static_cast<long long>(settings_.portIndex) + 1) {
            selected = static_cast<int>(i);
        }
    }
    // No item when the stored port is not among those found.
    list->setCurrentIndex(selected);
    // The open list is as wide as its longest line, wider than the box.
    const QFontMetrics metrics(list->view()->font());
    int longest = 0;
    for (int item = 0; item < list->count(); ++item) {
        longest = std::max(longest, metrics.horizontalAdvance(openListText(item)));
    }
    list->view()->setMinimumWidth(longest + 2 * metrics.averageCharWidth() +
                                  list->view()->verticalScrollBar()->sizeHint().width());
}

void CKelvoraSetdata::showValues() {
    edit(kStartIntensityEdit)->setText(formatIntensity(startIntensity_));
    edit(kStopIntensityEdit)->setText(formatIntensity(stopIntensity_));
    edit(kMinimumSecondsEdit)->setText(QString::number(minimumSeconds_));
    for (std::size_t i = 0; i < kColourEdits.size(); ++i) {
        edit(kColourEdits[i])->setText(colourTexts_[i]);
    }
}

void CKelvoraSetdata::refuse(int id, const QString& message) {
    prompt(message);
    QLineEdit* field = edit(id);
    field->setFocus();
    field->selectAll();
}

QString CKelvoraSetdata::fieldName(int id) const {
    const QLabel* label = widgets_.labelOf(id);
    return label != nullptr ? label->text() : QString();
}

bool CKelvoraSetdata::readIntensity(int id, double lowest, double highest, double& value) {
    if (!parseLeadingNumber(edit(id)->text(), value)) {
        refuse(id, messageText(Message::EnterNumber));
        return false;
    }
    // Said rather than moved to the nearest limit behind the user's back.
    // A hair of slack: start - 0.1 is not exactly the tenth the user types.
    if (value < lowest - 1e-9 || value > highest + 1e-9) {
        refuse(id, messageText(Message::NumberOutOfRange)
                       .arg(fieldName(id), QString::number(lowest, 'f', 1),
                            QString::number(highest, 'f', 1)));
        return false;
    }
    value = truncateToTenth(value);
    return true;
}

bool CKelvoraSetdata::readValues() {
    double start = 0;
    if (!readIntensity(kStartIntensityEdit, kLowestStartIntensity, kHighestStartIntensity, start)) {
        return false;
    }
    // Below the start, or a recording could never end.
    double stop = 0;
    if (!readIntensity(kStopIntensityEdit, kLowestStopIntensity,
                       std::min(kHighestStopIntensity, start - 0.1), stop)) {
        return false;
    }
    if (stop >= start) { // a stop above start - 0.1 that truncates to the start
        refuse(kStopIntensityEdit, messageText(Message::NumberOutOfRange)
                                       .arg(fieldName(kStopIntensityEdit),
                                            QString::number(kLowestStopIntensity, 'f', 1),
                                            QString::number(start - 0.1, 'f', 1)));
        return false;
    }
    std::int32_t seconds = 0;
    const QString secondsText = edit(kMinimumSecondsEdit)->text();
    if (!parseLeadingInteger(secondsText, seconds)) {
        refuse(kMinimumSecondsEdit, messageText(Message::EnterInteger));
        return false;
    }
    if (!leadingNumberIsWhole(secondsText) || seconds < kFewestSeconds || seconds > kMostSeconds) {
        refuse(kMinimumSecondsEdit, messageText(Message::WholeSecondsOutOfRange)
                                        .arg(fieldName(kMinimumSecondsEdit))
                                        .arg(kFewestSeconds)
                                        .arg(kMostSeconds));
        return false;
    }
    std::array<QString, 3> colours;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        colours[i] = edit(kColourEdits[i])->text();
        // Only a text set around the field's limit can be longer.
        if (colours[i].size() > kColourTextLength) {
            refuse(kColourEdits[i], messageText(Message::TextTooLong).arg(kColourTextLength));
            return false;
        }
        // Half a colour would be saved as some other one, black on black at worst.
        std::int32_t colour = 0;
        if (!parseColourText(colours[i], colour)) {
            refuse(kColourEdits[i], messageText(Message::EnterColour));
            return false;
        }
    }
    startIntensity_ = start;
    stopIntensity_ = stop;
    minimumSeconds_ = seconds;
    colourTexts_ = colours;
    return true;
}

void CKelvoraSetdata::accept() {
    // Saved within the first 50 ms (Enter right after opening), the fields
    // would still hold the placeholders and overwrite every setting.
    if (!setupDone_) {
        setup();
    }
    if (!readValues()) {
        return; // prompted; the dialog stays open and nothing has changed
    }
    // A quiet sensor reads about -0.7 on the Mercalli scale: with the JMA
    // thresholds it would record without end.
    const bool mercalli = isChecked(kMercalliScaleRadio) ||
                          (!isChecked(kJmaScaleRadio) && settings_.pipeline.intensityScale != 0);
    if (mercalli && RecordThresholds{startIntensity_, stopIntensity_} == kJmaRecordThresholds &&
        ask(messageText(Message::ProposeMercalliThresholds)
                .arg(formatIntensity(kJmaRecordThresholds.start),
                     formatIntensity(kJmaRecordThresholds.stop),
                     formatIntensity(kMercalliRecordThresholds.start),
                     formatIntensity(kMercalliRecordThresholds.stop)))) {
        startIntensity_ = kMercalliRecordThresholds.start;
        stopIntensity_ = kMercalliRecordThresholds.stop;
        showThresholds(kMercalliRecordThresholds);
    }
    timer_.stop();
    setupDone_ = false;

    // Without a chosen port (none found, or the stored one is gone) the
    // stored port stays: there is nothing to take a number from.
    const int item = widgets_.as<QComboBox>(kPortList)->currentIndex();
    if (item >= 0 && static_cast<std::size_t>(item) < ports_.size()) {
        settings_.portIndex = ports_[static_cast<std::size_t>(item)].number - 1;
    }
    if (isChecked(1014)) {
        settings_.pipeline.jmaWindowMode = 1;
    } else if (isChecked(1015)) {
        settings_.pipeline.jmaWindowMode = 0;
    }
    if (isChecked(1016)) {
        settings_.pipeline.intensityScale = 0;
    } else if (isChecked(1017)) {
        settings_.pipeline.intensityScale = 1;
    }

    // Read checked the ranges and cut both to tenths.
    settings_.recorder.recordStartIntensity = startIntensity_;
    settings_.recorder.recordStopIntensity = stopIntensity_;
    settings_.recorder.recordMinSeconds = minimumSeconds_;

    settings_.autoStart = isChecked(1021) ? 1 : 0;
    settings_.minimiseAtStart = isChecked(1022) ? 1 : 0;
    settings_.observationLogEnabled = isChecked(1039) ? 1 : 0;
    settings_.stayOnTop = isChecked(1023) ? 1 : 0;
    settings_.pipeline.useSensorSiGal = isChecked(1024) ? 1 : 0;
    settings_.pipeline.useSensorVelocity = isChecked(1025) ? 1 : 0;

    std::int32_t* const colours[] = {&settings_.backgroundColour, &settings_.textColour,
                                     &settings_.disabledTextColour};
    for (std::size_t i = 0; i < colourTexts_.size(); ++i) {
        parseColourText(colourTexts_[i], *colours[i]); // read checked them
    }
    QDialog::accept();
}

void CKelvoraSetdata::reject() {
    timer_.stop();
    setupDone_ = false;
    QDialog::reject();
}

void CKelvoraSetdata::reset() {
    const Settings defaults; // a new object holds every default
    minimumSeconds_ = defaults.recorder.recordMinSeconds;
    colourTexts_ = {colourText(defaults.backgroundColour), colourText(defaults.textColour),
                    colourText(defaults.disabledTextColour)};
    setCheck(1021, defaults.autoStart != 0);
    setCheck(1022, defaults.minimiseAtStart != 0);
    setCheck(1039, defaults.observationLogEnabled != 0);
    setCheck(1023, defaults.stayOnTop != 0);
    setCheck(1024, defaults.pipeline.useSensorSiGal != 0);
    setCheck(1025, defaults.pipeline.useSensorVelocity != 0);
    // The port and the radio buttons only while they may change.
    if (!source_.receiveActive()) {
        auto* list = widgets_.as<QComboBox>(kPortList);
        list->setCurrentIndex(list->count() > 0 ? 0 : -1);
        setCheck(defaults.pipeline.jmaWindowMode != 0 ? 1014 : 1015, true);
        setCheck(defaults.pipeline.intensityScale == 0 ? 1016 : 1017, true);
    }
    // The thresholds of the scale that stays chosen while receiving.
    const RecordThresholds thresholds =
        recordThresholdDefaults(isChecked(kMercalliScaleRadio) ? 1 : 0);
    startIntensity_ = thresholds.start;
    stopIntensity_ = thresholds.stop;
    showValues();
}

void CKelvoraSetdata::scaleChosen(int scale) {
    if (!setupDone_) {
        return; // the set-up shows the copies as they are
    }
    // The other scale's defaults become this one's, where they fit; values
    // of the user's own are left alone. Visible in the fields, and Cancel
    // still drops them.
    const RecordThresholds other = recordThresholdDefaults(scale == 0 ? 1 : 0);
    if (fieldsHold(other)) {
        showThresholds(recordThresholdDefaults(scale));
    }
}

bool CKelvoraSetdata::fieldsHold(RecordThresholds thresholds) const {
    double start = 0;
    double stop = 0;
    return parseLeadingNumber(edit(kStartIntensityEdit)->text(), start) &&
           parseLeadingNumber(edit(kStopIntensityEdit)->text(), stop) &&
           RecordThresholds{truncateToTenth(start), truncateToTenth(stop)} == thresholds;
}

void CKelvoraSetdata::showThresholds(RecordThresholds thresholds) {
    edit(kStartIntensityEdit)->setText(formatIntensity(thresholds.start));
    edit(kStopIntensityEdit)->setText(formatIntensity(thresholds.stop));
}

void CKelvoraSetdata::showCaptionColours(bool receiving) {
    if (captionsShownReceiving_ == (receiving ? 1 : 0)) {
        return;
    }
    captionsShownReceiving_ = receiving ? 1 : 0;
    // The captions of the choices locked while receiving look disabled then.
    const QColor colour =
        colourFromSetting(receiving ? settings_.disabledTextColour : settings_.textColour);
    for (const int id : {1034, 1035, 1036, 1037}) {
        QWidget* caption = widgets_.control(id);
        QPalette palette = caption->palette();
        palette.setColor(QPalette::WindowText, colour);
        caption->setPalette(palette);
    }
}

void CKelvoraSetdata::setCheck(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(widgets_.control(id))) {
        button->setChecked(checked);
    }
}

bool CKelvoraSetdata::isChecked(int id) const {
    const auto* button = qobject_cast<QAbstractButton*>(widgets_.control(id));
    return button != nullptr && button->isChecked();
}

void CKelvoraSetdata::keyPressEvent(QKeyEvent* event) {
    if (isManualKey(*event) && openManual) {
        openManual();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKelvoraSetdata::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const bool receiving = source_.receiveActive();
    for (std::size_t zone = 0; zone < kHotZones.size(); ++zone) {
        const HotZone& z = kHotZones[zone];
        if (auto* button = qobject_cast<QAbstractButton*>(widgets_.control(z.control))) {
            button->setDown(z.contains(point) && !zoneRests(zone, receiving));
        }
    }
    QDialog::mouseMoveEvent(event);
}

void CKelvoraSetdata::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint point = event->position().toPoint();
        const bool receiving = source_.receiveActive();
        pressed_.fill(false);
        for (std::size_t zone = 0; zone < kHotZones.size(); ++zone) {
            pressed_[zone] = kHotZones[zone].contains(point) && !zoneRests(zone, receiving);
        }
    }
    QDialog::mousePressEvent(event);
}

void CKelvoraSetdata::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint point = event->position().toPoint();
        const bool receiving = source_.receiveActive();
        // Only where the press was too: the zones do not overlap.
        for (std::size_t zone = 0; zone < kHotZones.size(); ++zone) {
            const HotZone& z = kHotZones[zone];
            if (!pressed_[zone] || !z.contains(point) || zoneRests(zone, receiving)) {
                continue;
            }
            if (z.partner != 0) {
                setCheck(z.control, true);
                setCheck(z.partner, false);
            } else {
                setCheck(z.control, !isChecked(z.control));
            }
        }
        pressed_.fill(false);
    }
    QDialog::mouseReleaseEvent(event);
}

} // namespace kelvora
