#pragma once

#include "settings/DialogBuilder.h"
#include "settings/Settings.h"
#include "settings/SettingsDialogSource.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QLabel;
class QLineEdit;

namespace kelvora {

// The settings dialog (template 152 of the current language): the serial
// port, the recording thresholds, the JMA window, the scale, the start-up and
// behaviour options, the use of sensor values and the three colours, with two
// live read-outs of the link. It edits the in-memory copies only, and only
// on Save; they reach the store when the main window closes.
//
// Nothing is filled in when it opens: the first tick of its 50-ms timer
// loads the copies and the ports, every tick refreshes the read-outs. Check
// boxes and radio buttons carry no text; their captions are statics drawn in
// the configurable text colour, and fixed pixel zones over them (the same in
// every language) act for the buttons.
class CKelvoraSetdata : public QDialog {
    Q_OBJECT
public:
    CKelvoraSetdata(Settings& settings, SettingsDialogSource& source, QWidget* parent = nullptr);

    // The timer calls it; tests may too.
    void timerTick();
    bool setupDone() const { return setupDone_; }

    // The control with this number in template 152, or nullptr.
    QWidget* control(int id) const { return widgets_.control(id); }
    // The caption of check box or radio button `id`, or the label of field
    // `id`; nullptr when it has none.
    QLabel* captionOf(int id) const { return widgets_.labelOf(id); }
    // Item `item` of the port list as the open list shows it: "COM33  /dev/ttyUSB0".
    // The closed box shows "COM33". Empty when there is no such item.
    QString openListText(int item) const;

    // Shows the prompt for a field that cannot be read or is out of range: a
    // message box with the warning icon unless replaced (tests replace it, a
    // box would block).
    std::function<void(const QString&)> prompt;
    // Asks a yes-or-no question (Save with the Mercalli scale and the JMA
    // thresholds); true for yes. A question box unless replaced.
    std::function<bool(const QString&)> ask;
    // F1 without Shift, Ctrl or Alt: opens the manual (the program's part).
    std::function<void()> openManual;

    void accept() override; // Save: button 1, Enter
    void reject() override; // Cancel: button 2, Escape, the close box
    void reset();           // button 1038: the defaults into the fields, not into the copies

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setup();
    void fillPortList();
    void showValues();
    bool readValues();
    bool readIntensity(int id, double lowest, double highest, double& value);
    QString fieldName(int id) const;
    void scaleChosen(int scale);
    bool fieldsHold(RecordThresholds thresholds) const;
    void showThresholds(RecordThresholds thresholds);
    void refuse(int id, const QString& message);
    void showCaptionColours(bool receiving);
    void setCheck(int id, bool checked);
    bool isChecked(int id) const;
    QLineEdit* edit(int id) const;

    Settings& settings_;
    SettingsDialogSource& source_;
    DialogWidgets widgets_;
    QTimer timer_;
    bool setupDone_ = false;
    // The values of edits 1026, 1027 and 1028 as last shown or read.
    double startIntensity_ = 0;
    double stopIntensity_ = 0;
    std::int32_t minimumSeconds_ = 0;
    // "#RRGGBB" of edits 1029, 1030 and 1031, empty until the set-up.
    std::array<QString, 3> colourTexts_;
    std::vector<SerialPortChoice> ports_; // item i of the list is ports_[i]
    std::array<bool, 10> pressed_{};      // per hot zone
    int captionsShownReceiving_ = -1;     // -1 until the first tick
};

// A colour setting (0x00BBGGRR) as the dialog shows it, "#RRGGBB".
QString colourText(std::int32_t colour);
// A colour text as Save takes it: "#RRGGBB" in hexadecimal digits of either
// case, blanks around it allowed. False (Save prompts) leaves the colour.
bool parseColourText(const QString& text, std::int32_t& colour);
// A field's text as a number: optional blanks, a number, then anything.
// False when it does not begin with one.
bool parseLeadingNumber(const QString& text, double& value);
// The same for an integer, of which the first 63 characters are read.
bool parseLeadingInteger(const QString& text, std::int32_t& value);
// False when the number a field begins with has a fraction ("30.5"), where
// whole seconds are meant; "45abc" and "30.0" are whole.
bool leadingNumberIsWhole(const QString& text);

} // namespace kelvora
