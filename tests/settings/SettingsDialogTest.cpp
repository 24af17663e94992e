// The settings dialog offscreen with a fake source of live values and ports:
// Save's truncations and colour texts, the prompts for fields that hold no
// number or one out of range, the thresholds offered with the Mercalli scale,
// Reset and Cancel, the port list, the hot zones over the
// captions, the colours, and a layout that keeps every control in its group
// and every caption readable in all five languages.
#include "settings/CKelvoraSetdata.h"

#include "monitor/Fonts.h"
#include "settings/Language.h"
#include "settings/Resources.h"
#include "support/OffscreenApplication.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

class FakeSource : public SettingsDialogSource {
public:
    std::int32_t framesPerSecond() const override { return frames; }
    QString jmaAccelText() const override { return jmaAccel; }
    bool receiveActive() const override { return receiving; }
    std::vector<SerialPortChoice> ports() const override { return portChoices; }

    std::int32_t frames = 0;
    QString jmaAccel = QStringLiteral("    0.000 gal");
    bool receiving = false;
    std::vector<SerialPortChoice> portChoices{{1, QStringLiteral("/dev/ttyS0")},
                                              {3, QStringLiteral("/dev/ttyS2")},
                                              {10, QStringLiteral("/dev/ttyS9")}};
};

class SettingsDialog : public ::testing::Test {
protected:
    SettingsDialog() { installFontSubstitutions(); }
    ~SettingsDialog() override { applyLanguage(0); }

    // The dialog after its first tick, as the user first sees it.
    CKelvoraSetdata& open(int language = 1) {
        applyLanguage(language);
        settings_.LanguageIndex = language;
        dialog_.reset();
        dialog_ = std::make_unique<CKelvoraSetdata>(settings_, source_);
        dialog_->prompt = [this](const QString& text) { prompts_.push_back(text.toStdString()); };
        dialog_->ask = [this](const QString& text) {
            questions_.push_back(text.toStdString());
            return answer_;
        };
        dialog_->show();
        dialog_->timerTick();
        return *dialog_;
    }
    QLineEdit& field(int id) { return *qobject_cast<QLineEdit*>(dialog_->control(id)); }
    QAbstractButton& button(int id) {
        return *qobject_cast<QAbstractButton*>(dialog_->control(id));
    }
    QComboBox& portList() { return *qobject_cast<QComboBox*>(dialog_->control(1013)); }
    void save() { button(1).click(); }
    void mouse(QEvent::Type type, QPoint point, Qt::MouseButtons buttons = Qt::LeftButton) {
        QMouseEvent event(type, point, dialog_->mapToGlobal(point),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(dialog_.get(), &event);
    }
    void click(QPoint press, QPoint release) {
        mouse(QEvent::MouseButtonPress, press);
        mouse(QEvent::MouseButtonRelease, release, Qt::NoButton);
    }

    QApplication& application_ = offscreenApplication(); // before any widget
    Settings settings_;
    FakeSource source_;
    std::vector<std::string> prompts_;
    std::vector<std::string> questions_;
    bool answer_ = false; // to the questions
    std::unique_ptr<CKelvoraSetdata> dialog_;
};

QColor colourOf(std::int32_t value) {
    return colourFromSetting(value);
}

TEST_F(SettingsDialog, OpensWithPlaceholdersAndShowsTheSettingsFromTheFirstTick) {
    settings_.recorder.recordStartIntensity = 13.0;
    settings_.recorder.recordStopIntensity = -0.9;
    settings_.recorder.recordMinSeconds = 45;
    settings_.textColour = 0x0080FF;
    applyLanguage(1);
    CKelvoraSetdata dialog(settings_, source_);
    auto text = [&](int id) { return qobject_cast<QLineEdit*>(dialog.control(id))->text(); };
    EXPECT_EQ(dialog.windowTitle(), "Settings");
    EXPECT_FALSE(dialog.setupDone());
    EXPECT_EQ(text(1026), "0");
    EXPECT_EQ(text(1028), "0");
    EXPECT_EQ(text(1029), "");
    EXPECT_EQ(qobject_cast<QComboBox*>(dialog.control(1013))->count(), 0);
    dialog.timerTick();
    EXPECT_TRUE(dialog.setupDone());
    EXPECT_EQ(text(1026), "13");
    EXPECT_EQ(text(1027), "-0.9");
    EXPECT_EQ(text(1028), "45");
    EXPECT_EQ(text(1029), "#9FC3F4");
    EXPECT_EQ(text(1030), "#FF8000");
    EXPECT_EQ(text(1031), "#6D6D6D");
    EXPECT_EQ(qobject_cast<QLineEdit*>(dialog.control(1029))->maxLength(), 7);
}

TEST_F(SettingsDialog, ASaveBeforeTheFirstTickKeepsEverySetting) {
    settings_.recorder.recordStartIntensity = 4.0;
    settings_.recorder.recordStopIntensity = 3.0;
    settings_.recorder.recordMinSeconds = 45;
    settings_.autoStart = 1;
    settings_.portIndex = 2;
    settings_.backgroundColour = 0x010203;
    CKelvoraSetdata dialog(settings_, source_);
    dialog.accept(); // Enter at once, before the set-up has filled the fields
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings_.recorder.recordStartIntensity, 4.0);
    EXPECT_EQ(settings_.recorder.recordStopIntensity, 3.0);
    EXPECT_EQ(settings_.recorder.recordMinSeconds, 45);
    EXPECT_EQ(settings_.autoStart, 1);
    EXPECT_EQ(settings_.portIndex, 2);
    EXPECT_EQ(settings_.backgroundColour, 0x010203);
}

// Numbers within their ranges are saved cut toward zero to tenths.
struct SavedCase {
    const char* name;
    const char* start;
    const char* stop;
    const char* seconds;
    double savedStart;
    double savedStop;
    int savedSeconds;
};

class SaveInRange : public SettingsDialog, public ::testing::WithParamInterface<SavedCase> {};

TEST_P(SaveInRange, TruncatesTheRecordingThresholdsToTenths) {
    open();
    field(1026).setText(GetParam().start);
    field(1027).setText(GetParam().stop);
    field(1028).setText(GetParam().seconds);
    save();
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_TRUE(prompts_.empty());
    EXPECT_EQ(settings_.recorder.recordStartIntensity, GetParam().savedStart);
    EXPECT_EQ(settings_.recorder.recordStopIntensity, GetParam().savedStop);
    EXPECT_EQ(settings_.recorder.recordMinSeconds, GetParam().savedSeconds);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SaveInRange,
    ::testing::Values(SavedCase{"Highest", "13", "12.9", "300", 13.0, 12.9, 300},
                      SavedCase{"Lowest", "-2.9", "-3", "10", -2.9, -3.0, 10},
                      // Toward zero, not down.
                      SavedCase{"TowardZero", "-0.95", "-1.3", "30", -0.9, -1.3, 30},
                      SavedCase{"TextAfterTheNumber", "  2.55 gal", "+1e0", "45abc", 2.5, 1.0, 45},
                      SavedCase{"StopATenthBelowStart", "1.2", "1.1", "30", 1.2, 1.1, 30},
                      SavedCase{"WholeSecondsWithAPoint", "4", "3", "30.0", 4.0, 3.0, 30}),
    CaseName{});

// A number out of its range, or a fraction of a second, is refused with a
// prompt naming the field (its caption) and the range, instead of being
// moved to the nearest limit.
struct RangeCase {
    const char* name;
    int field;
    const char* start;
    const char* stop;
    const char* seconds;
    const char* lowest;
    const char* highest;
    const char* corrected;
};

class OutOfRangeFields : public SettingsDialog, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(OutOfRangeFields, PromptWithTheFieldAndItsRangeAndSaveNothing) {
    const RangeCase& c = GetParam();
    for (const int language : {1, 0}) {
        prompts_.clear();
        settings_.recorder.recordStartIntensity = 2.0;
        settings_.recorder.recordStopIntensity = 1.0;
        settings_.recorder.recordMinSeconds = 45;
        open(language);
        field(1026).setText(c.start);
        field(1027).setText(c.stop);
        field(1028).setText(c.seconds);
        save();
        const QString caption = dialog_->captionOf(c.field)->text();
        ASSERT_FALSE(caption.isEmpty());
        const Message message =
            c.field == 1028 ? Message::WholeSecondsOutOfRange : Message::NumberOutOfRange;
        ASSERT_EQ(prompts_.size(), 1u) << language;
        const QString prompt = QString::fromStdString(prompts_[0]);
        EXPECT_EQ(prompt, messageText(message, language).arg(caption, c.lowest, c.highest));
        for (const QString& part :
             {caption, QString::fromLatin1(c.lowest), QString::fromLatin1(c.highest)}) {
            EXPECT_TRUE(prompt.contains(part)) << prompts_[0] << " lacks " << part.toStdString();
        }
        EXPECT_TRUE(dialog_->isVisible());
        EXPECT_EQ(dialog_->focusWidget(), &field(c.field));
        EXPECT_EQ(field(c.field).selectedText(), field(c.field).text());
        EXPECT_EQ(settings_.recorder.recordStartIntensity, 2.0);
        EXPECT_EQ(settings_.recorder.recordStopIntensity, 1.0);
        EXPECT_EQ(settings_.recorder.recordMinSeconds, 45);
        // Corrected, the same dialog saves.
        field(c.field).setText(c.corrected);
        save();
        EXPECT_EQ(dialog_->result(), QDialog::Accepted);
        EXPECT_EQ(prompts_.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, OutOfRangeFields,
    ::testing::Values(
        RangeCase{"StartTooHigh", 1026, "13.5", "3", "30", "-2.9", "13.0", "13"},
        RangeCase{"StartTooLow", 1026, "-5", "-3", "30", "-2.9", "13.0", "-2.9"},
        RangeCase{"StartJustBelow", 1026, "-2.95", "-3", "30", "-2.9", "13.0", "-2"},
        RangeCase{"StartInfinite", 1026, "inf", "3", "30", "-2.9", "13.0", "4"},
        // The stop's top is a tenth below the start.
        RangeCase{"StopTooHigh", 1027, "4", "20", "30", "-3.0", "3.9", "3.9"},
        RangeCase{"StopTooLow", 1027, "4", "-5", "30", "-3.0", "3.9", "-3"},
        RangeCase{"StopMinusInfinity", 1027, "4", "-inf", "30", "-3.0", "3.9", "0"},
        RangeCase{"StopAtStart", 1027, "4", "4", "30", "-3.0", "3.9", "3"},
        RangeCase{"StopEqualAfterTruncation", 1027, "1.26", "1.29", "30", "-3.0", "1.1", "1.1"},
        RangeCase{"SecondsTooFew", 1028, "4", "3", "5", "10", "300", "10"},
        RangeCase{"SecondsTooMany", 1028, "4", "3", "1000", "10", "300", "300"},
        RangeCase{"SecondsNegative", 1028, "4", "3", "  -7", "10", "300", "20"},
        RangeCase{"SecondsHuge", 1028, "4", "3", "99999999999999", "10", "300", "60"},
        // Whole seconds are meant: "%d" would have read 30.
        RangeCase{"SecondsFraction", 1028, "4", "3", "30.5", "10", "300", "30"},
        RangeCase{"SecondsSmallFraction", 1028, "4", "3", "10.01", "10", "300", "10"}),
    CaseName{});

struct ColourCase {
    const char* text;
    std::int32_t saved;
};

class SaveColours : public SettingsDialog, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(SaveColours, TakeHashAndSixHexadecimalDigitsOfEitherCase) {
    settings_.backgroundColour = 0x123456;
    open();
    field(1029).setText(GetParam().text);
    save();
    EXPECT_TRUE(prompts_.empty());
    EXPECT_EQ(settings_.backgroundColour, GetParam().saved) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, SaveColours,
                         ::testing::Values(ColourCase{"#ff8000", 0x0080FF},
                                           ColourCase{"#FF0000", 0x0000FF},
                                           ColourCase{"#aBc123", 0x23C1AB},
                                           ColourCase{"#000000", 0x000000}));

struct ColourTextCase {
    const char* name;
    const char* text;
    bool valid;
    std::int32_t colour; // when valid
};

void PrintTo(const ColourTextCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ColourTexts : public ::testing::TestWithParam<ColourTextCase> {};

// Texts the field's seven characters cannot hold included.
TEST_P(ColourTexts, AreHashAndSixHexadecimalDigitsWithBlanksAroundAllowed) {
    std::int32_t colour = 0x123456;
    EXPECT_EQ(parseColourText(QString::fromUtf8(GetParam().text), colour), GetParam().valid);
    EXPECT_EQ(colour, GetParam().valid ? GetParam().colour : 0x123456) << "unchanged when refused";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ColourTexts,
    ::testing::Values(ColourTextCase{"LowerCase", "#ff8000", true, 0x0080FF},
                      ColourTextCase{"BlanksAround", " #9FC3F4\t ", true, 0xF4C39F},
                      ColourTextCase{"NotHex", "#GGGGGG", false, 0},
                      ColourTextCase{"AName", "red", false, 0},
                      ColourTextCase{"HexThenNot", "#12XY56", false, 0},
                      ColourTextCase{"LastNotHex", "#12345Z", false, 0},
                      ColourTextCase{"FiveDigits", "#12345", false, 0},
                      ColourTextCase{"SevenDigits", "#1234567", false, 0},
                      ColourTextCase{"NoHash", "9FC3F4", false, 0},
                      ColourTextCase{"BlankInside", "#1234 3", false, 0},
                      ColourTextCase{"Sign", "#-12345", false, 0},
                      ColourTextCase{"HexPrefix", "#0x1234", false, 0},
                      ColourTextCase{"FullWidthDigits", "#１２３４５６", false, 0},
                      ColourTextCase{"Empty", "", false, 0}),
    CaseName());

TEST_F(SettingsDialog, EachColourFieldSavesItsOwnColourAndShowsUpperCaseTheNextTime) {
    open();
    field(1029).setText("#010203");
    field(1030).setText("#ff8000");
    field(1031).setText("#A0B0C0");
    save();
    EXPECT_EQ(settings_.backgroundColour, 0x030201);
    EXPECT_EQ(settings_.textColour, 0x0080FF);
    EXPECT_EQ(settings_.disabledTextColour, 0xC0B0A0);
    open();
    EXPECT_EQ(field(1030).text(), "#FF8000");
}

struct PromptCase {
    int field;
    const char* text;
    const char* message;
    const char* corrected = "4"; // an intensity in range
};

class UnreadableFields : public SettingsDialog, public ::testing::WithParamInterface<PromptCase> {};

// The dialog opens in English, and so do its prompts.
constexpr const char* kEnterColour = "Please enter it as #RRGGBB.";

TEST_P(UnreadableFields, PromptAndKeepTheDialogOpenWithNothingChanged) {
    settings_.recorder.recordStartIntensity = 2.0;
    settings_.autoStart = 0;
    settings_.textColour = 0;
    open();
    button(1021).setChecked(true);
    field(1026).setText("5");
    field(1030).setText("#FFFFFF");
    field(GetParam().field).setText(GetParam().text);
    save();
    EXPECT_EQ(prompts_, std::vector<std::string>{GetParam().message});
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_TRUE(dialog_->setupDone()) << "the timer runs on; no new set-up";
    EXPECT_EQ(settings_.recorder.recordStartIntensity, 2.0);
    EXPECT_EQ(settings_.autoStart, 0);
    EXPECT_EQ(settings_.textColour, 0);
    EXPECT_EQ(dialog_->focusWidget(), &field(GetParam().field));
    EXPECT_EQ(field(GetParam().field).selectedText(), field(GetParam().field).text());
    // Corrected, the same dialog saves.
    field(GetParam().field).setText(GetParam().corrected);
    save();
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(settings_.autoStart, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, UnreadableFields,
    ::testing::Values(PromptCase{1026, "abc", "Please enter a number."},
                      PromptCase{1027, "", "Please enter a number."},
                      PromptCase{1027, "nan", "Please enter a number."},
                      PromptCase{1028, "x5", "Please enter a whole number.", "45"},
                      PromptCase{1028, " - 5", "Please enter a whole number.", "45"},
                      PromptCase{1028, "+", "Please enter a whole number.", "45"},
                      PromptCase{1029, "#GGGGGG", kEnterColour, "#123456"},
                      PromptCase{1029, "red", kEnterColour, "#123456"},
                      PromptCase{1030, "#12XY56", kEnterColour, "#123456"},
                      PromptCase{1030, "#12345Z", kEnterColour, "#123456"},
                      PromptCase{1031, "#12345", kEnterColour, "#123456"},
                      PromptCase{1031, "", kEnterColour, "#123456"},
                      // A blank takes one of the seven characters.
                      PromptCase{1029, " #12345", kEnterColour, "#123456"}));

TEST_F(SettingsDialog, OnlyTheFirstUnreadableFieldIsPromptedFor) {
    open();
    field(1027).setText("?");
    field(1028).setText("?");
    save();
    EXPECT_EQ(prompts_, std::vector<std::string>{"Please enter a number."});
    EXPECT_EQ(dialog_->focusWidget(), &field(1027));
}

TEST_F(SettingsDialog, EnterSavesFromAField) {
    open();
    field(1028).setText("120");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&field(1028), &enter);
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(settings_.recorder.recordMinSeconds, 120);
}

// Values far from the defaults in every field Reset touches.
void changeEverything(Settings& s) {
    s.portIndex = 2;
    s.pipeline.jmaWindowMode = 1;
    s.pipeline.intensityScale = 1;
    s.autoStart = 1;
    s.minimiseAtStart = 1;
    s.observationLogEnabled = 0;
    s.stayOnTop = 0;
    s.pipeline.useSensorSiGal = 1;
    s.pipeline.useSensorVelocity = 1;
    s.recorder.recordStartIntensity = 5.0;
    s.recorder.recordStopIntensity = 4.0;
    s.recorder.recordMinSeconds = 100;
    s.backgroundColour = 0x010203;
    s.textColour = 0x040506;
    s.disabledTextColour = 0x070809;
}

TEST_F(SettingsDialog, ResetWhileReceivingLeavesThePortAndBothRadioPairs) {
    changeEverything(settings_);
    source_.receiving = true;
    open();
    button(1038).click();
    // The Mercalli scale stays, and with it its own thresholds.
    EXPECT_EQ(field(1026).text(), "0.5");
    EXPECT_EQ(field(1027).text(), "0");
    EXPECT_EQ(field(1028).text(), "30");
    EXPECT_EQ(field(1029).text(), "#9FC3F4");
    EXPECT_EQ(settings_.autoStart, 1) << "Reset fills the fields, not the copies";
    save();
    const Settings defaults;
    EXPECT_EQ(settings_.portIndex, 2);
    EXPECT_EQ(settings_.pipeline.jmaWindowMode, 1);
    EXPECT_EQ(settings_.pipeline.intensityScale, 1);
    EXPECT_EQ(settings_.autoStart, defaults.autoStart);
    EXPECT_EQ(settings_.minimiseAtStart, defaults.minimiseAtStart);
    EXPECT_EQ(settings_.observationLogEnabled, defaults.observationLogEnabled);
    EXPECT_EQ(settings_.stayOnTop, defaults.stayOnTop);
    EXPECT_EQ(settings_.pipeline.useSensorSiGal, defaults.pipeline.useSensorSiGal);
    EXPECT_EQ(settings_.pipeline.useSensorVelocity, defaults.pipeline.useSensorVelocity);
    EXPECT_EQ(settings_.recorder.recordStartIntensity, 0.5);
    EXPECT_EQ(settings_.recorder.recordStopIntensity, 0.0);
    EXPECT_EQ(settings_.recorder.recordMinSeconds, 30);
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(settings_.backgroundColour, 0xF4C39F);
    EXPECT_EQ(settings_.textColour, 0);
    EXPECT_EQ(settings_.disabledTextColour, 0x6D6D6D);
}

TEST_F(SettingsDialog, ResetWhileIdleAlsoTakesTheFirstPortAndTheDefaultRadios) {
    changeEverything(settings_);
    open();
    button(1038).click();
    EXPECT_TRUE(button(1015).isChecked());
    EXPECT_TRUE(button(1016).isChecked());
    save();
    EXPECT_EQ(settings_.portIndex, 0) << "COM1, the first of the list";
    EXPECT_EQ(settings_.pipeline.jmaWindowMode, 0);
    EXPECT_EQ(settings_.pipeline.intensityScale, 0);
}

TEST_F(SettingsDialog, CancelAfterResetChangesNothing) {
    for (const bool byEscape : {false, true}) {
        changeEverything(settings_);
        open();
        button(1038).click();
        field(1028).setText("abc");
        if (byEscape) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&field(1026), &escape);
        } else {
            button(2).click();
        }
        EXPECT_EQ(dialog_->result(), QDialog::Rejected);
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_FALSE(dialog_->setupDone());
        EXPECT_TRUE(prompts_.empty());
        EXPECT_EQ(settings_.portIndex, 2);
        EXPECT_EQ(settings_.pipeline.jmaWindowMode, 1);
        EXPECT_EQ(settings_.pipeline.intensityScale, 1);
        EXPECT_EQ(settings_.autoStart, 1);
        EXPECT_EQ(settings_.observationLogEnabled, 0);
        EXPECT_EQ(settings_.recorder.recordStartIntensity, 5.0);
        EXPECT_EQ(settings_.recorder.recordStopIntensity, 4.0);
        EXPECT_EQ(settings_.recorder.recordMinSeconds, 100);
        EXPECT_EQ(settings_.backgroundColour, 0x010203);
        EXPECT_EQ(settings_.textColour, 0x040506);
    }
}

TEST_F(SettingsDialog, ThePortListHoldsThePortsFoundInOrderWithTheirDevicesWhenOpen) {
    settings_.portIndex = 9;
    open();
    QComboBox& list = portList();
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.itemText(0), "COM1");
    EXPECT_EQ(list.itemText(1), "COM3");
    EXPECT_EQ(list.itemText(2), "COM10");
    EXPECT_EQ(list.currentIndex(), 2);
    EXPECT_EQ(list.currentText(), "COM10") << "the closed box shows the number alone";
    EXPECT_EQ(dialog_->openListText(2), "COM10  /dev/ttyS9");
    list.showPopup();
    EXPECT_GE(list.view()->width(),
              list.view()->fontMetrics().horizontalAdvance(dialog_->openListText(2)))
        << "the open list is wide enough for the devices";
    list.hidePopup();
    list.setCurrentIndex(1);
    save();
    EXPECT_EQ(settings_.portIndex, 2);
}

TEST_F(SettingsDialog, APortWithoutANumberIsComZeroAndSavesMinusOne) {
    source_.portChoices = {{0, QStringLiteral("/dev/serial-x")}, {4, QStringLiteral("/dev/y")}};
    open();
    EXPECT_EQ(portList().itemText(0), "COM0");
    portList().setCurrentIndex(0);
    save();
    EXPECT_EQ(settings_.portIndex, -1);
}

TEST_F(SettingsDialog, WithoutAChosenPortSaveKeepsTheStoredOne) {
    for (const bool anyPorts : {true, false}) {
        settings_.portIndex = 40; // COM41, not among those found
        if (!anyPorts) {
            source_.portChoices.clear();
        }
        open();
        EXPECT_EQ(portList().currentIndex(), -1);
        save();
        EXPECT_EQ(dialog_->result(), QDialog::Accepted);
        EXPECT_EQ(settings_.portIndex, 40) << (anyPorts ? "ports found" : "no ports");
    }
}

TEST_F(SettingsDialog, AtMost255PortsAreOfferedInOrder) {
    source_.portChoices.clear();
    for (int number = 300; number >= 1; --number) {
        source_.portChoices.push_back({number, QStringLiteral("/dev/x%1").arg(number)});
    }
    open();
    ASSERT_EQ(portList().count(), 255);
    EXPECT_EQ(portList().itemText(0), "COM46") << "the first 255 found, 300 down to 46";
    EXPECT_EQ(portList().itemText(254), "COM300");
}

TEST_F(SettingsDialog, ReceptionDisablesPortAndRadiosOnceAtSetUp) {
    source_.receiving = true;
    open();
    for (const int id : {1013, 1014, 1015, 1016, 1017}) {
        EXPECT_FALSE(dialog_->control(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(button(1021).isEnabled());
    source_.receiving = false; // a stop while open
    dialog_->timerTick();
    EXPECT_FALSE(portList().isEnabled());
    EXPECT_FALSE(button(1014).isEnabled());
}

TEST_F(SettingsDialog, TheRadiosAndCheckBoxesShowTheSettings) {
    settings_.pipeline.jmaWindowMode = 7; // any non-zero value: a minute
    settings_.pipeline.intensityScale = 1;
    settings_.autoStart = 1;
    settings_.observationLogEnabled = 0;
    settings_.pipeline.useSensorVelocity = 1;
    open();
    EXPECT_TRUE(button(1014).isChecked());
    EXPECT_FALSE(button(1015).isChecked());
    EXPECT_FALSE(button(1016).isChecked());
    EXPECT_TRUE(button(1017).isChecked()) << "the pairs are separate";
    EXPECT_TRUE(button(1021).isChecked());
    EXPECT_FALSE(button(1022).isChecked());
    EXPECT_FALSE(button(1039).isChecked());
    EXPECT_TRUE(button(1023).isChecked());
    EXPECT_FALSE(button(1024).isChecked());
    EXPECT_TRUE(button(1025).isChecked());
    for (const int id : {1014, 1021, 1025}) {
        EXPECT_TRUE(button(id).text().isEmpty()) << "captions are statics of their own";
    }
}

// The middle of each hot zone, and which control it works.
struct Zone {
    QPoint centre;
    int control;
};
const Zone kMinute{{320, 40}, 1014};
const Zone kTenSeconds{{425, 40}, 1015};
const Zone kJma{{370, 241}, 1016};
const Zone kMercalli{{370, 266}, 1017};
const Zone kAutoStart{{370, 113}, 1021};
const Zone kMinimise{{370, 141}, 1022};
const Zone kObservationLog{{370, 165}, 1039};
const Zone kOnTop{{370, 365}, 1023};
const Zone kSiGal{{370, 392}, 1024};
const Zone kVelocity{{370, 420}, 1025};

TEST_F(SettingsDialog, AClickOnEachCheckBoxCaptionTogglesItsCheckBox) {
    for (const int language : {1, 0}) {
        open(language);
        for (const Zone& zone :
             {kAutoStart, kMinimise, kObservationLog, kOnTop, kSiGal, kVelocity}) {
            EXPECT_EQ(qobject_cast<QAbstractButton*>(dialog_->childAt(zone.centre)), nullptr)
                << "the caption, not a button, is under the zone's middle";
            const bool before = button(zone.control).isChecked();
            click(zone.centre, zone.centre);
            EXPECT_NE(button(zone.control).isChecked(), before) << zone.control;
            click(zone.centre, zone.centre);
            EXPECT_EQ(button(zone.control).isChecked(), before) << zone.control;
        }
    }
}

TEST_F(SettingsDialog, AClickOnARadioCaptionChecksItAndUnchecksItsPartner) {
    open();
    ASSERT_TRUE(button(1015).isChecked());
    ASSERT_TRUE(button(1016).isChecked());
    click(kMinute.centre, kMinute.centre);
    click(kMercalli.centre, kMercalli.centre);
    EXPECT_TRUE(button(1014).isChecked());
    EXPECT_FALSE(button(1015).isChecked());
    EXPECT_TRUE(button(1017).isChecked());
    EXPECT_FALSE(button(1016).isChecked());
    click(kTenSeconds.centre, kTenSeconds.centre);
    click(kJma.centre, kJma.centre);
    EXPECT_TRUE(button(1015).isChecked());
    EXPECT_FALSE(button(1014).isChecked());
    EXPECT_TRUE(button(1016).isChecked());
    save();
    EXPECT_EQ(settings_.pipeline.jmaWindowMode, 0);
    EXPECT_EQ(settings_.pipeline.intensityScale, 0);
}

// A quiet sensor reads about -0.7 on the Mercalli scale, above the JMA start
// of -0.9: with the JMA thresholds it would record without end.
TEST_F(SettingsDialog, ChoosingAScaleSwapsTheOtherScalesDefaultThresholdsForItsOwn) {
    open();
    ASSERT_EQ(field(1026).text(), "-0.9");
    ASSERT_EQ(field(1027).text(), "-1.3");
    click(kMercalli.centre, kMercalli.centre);
    EXPECT_EQ(field(1026).text(), "0.5");
    EXPECT_EQ(field(1027).text(), "0");
    click(kJma.centre, kJma.centre);
    EXPECT_EQ(field(1026).text(), "-0.9");
    EXPECT_EQ(field(1027).text(), "-1.3");
    button(1017).click(); // the radio button itself
    EXPECT_EQ(field(1026).text(), "0.5");
    save();
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(settings_.pipeline.intensityScale, 1);
    EXPECT_EQ(settings_.recorder.recordStartIntensity, 0.5);
    EXPECT_EQ(settings_.recorder.recordStopIntensity, 0.0);
}

TEST_F(SettingsDialog, ChoosingAScaleLeavesThresholdsOfTheUsersOwn) {
    open();
    field(1026).setText("2");
    field(1027).setText("-1.3");
    click(kMercalli.centre, kMercalli.centre);
    EXPECT_EQ(field(1026).text(), "2");
    EXPECT_EQ(field(1027).text(), "-1.3");
    save();
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(settings_.recorder.recordStartIntensity, 2.0);
    EXPECT_EQ(settings_.recorder.recordStopIntensity, -1.3);
}

TEST_F(SettingsDialog, CancelAfterChoosingMercalliKeepsScaleAndThresholds) {
    open();
    click(kMercalli.centre, kMercalli.centre);
    button(2).click();
    EXPECT_EQ(settings_.pipeline.intensityScale, 0);
    EXPECT_EQ(settings_.recorder.recordStartIntensity, -0.9);
    EXPECT_EQ(settings_.recorder.recordStopIntensity, -1.3);
}

TEST_F(SettingsDialog, SavingMercalliWithTheJmaThresholdsAsksToTakeTheMercalliOnes) {
    for (const bool yes : {true, false}) {
        // A settings file with the Mercalli scale and the JMA thresholds.
        settings_.pipeline.intensityScale = 1;
        settings_.recorder.recordStartIntensity = -0.9;
        settings_.recorder.recordStopIntensity = -1.3;
        questions_.clear();
        answer_ = yes;
        open();
        EXPECT_EQ(field(1026).text(), "-0.9") << "opening shows the copies as they are";
        save();
        ASSERT_EQ(questions_.size(), 1u);
        EXPECT_EQ(
            QString::fromStdString(questions_[0]),
            messageText(Message::ProposeMercalliThresholds, 1).arg("-0.9", "-1.3", "0.5", "0"));
        EXPECT_EQ(dialog_->result(), QDialog::Accepted);
        EXPECT_EQ(settings_.pipeline.intensityScale, 1);
        EXPECT_EQ(settings_.recorder.recordStartIntensity, yes ? 0.5 : -0.9);
        EXPECT_EQ(settings_.recorder.recordStopIntensity, yes ? 0.0 : -1.3);
    }
}

TEST_F(SettingsDialog, APressInOneZoneAndAReleaseElsewhereDoNothing) {
    open();
    click(kAutoStart.centre, kMinimise.centre);
    EXPECT_FALSE(button(1021).isChecked());
    EXPECT_FALSE(button(1022).isChecked());
    click(kAutoStart.centre, {200, 113}); // outside every zone
    EXPECT_FALSE(button(1021).isChecked());
    click({200, 113}, kAutoStart.centre);
    EXPECT_FALSE(button(1021).isChecked());
    click(kMinute.centre, kTenSeconds.centre);
    EXPECT_TRUE(button(1015).isChecked());
}

TEST_F(SettingsDialog, WhileReceivingOnlyTheCheckBoxZonesWork) {
    source_.receiving = true;
    open();
    click(kMinute.centre, kMinute.centre);
    click(kMercalli.centre, kMercalli.centre);
    EXPECT_TRUE(button(1015).isChecked());
    EXPECT_FALSE(button(1014).isChecked());
    EXPECT_TRUE(button(1016).isChecked());
    click(kMinimise.centre, kMinimise.centre);
    EXPECT_TRUE(button(1022).isChecked());
    // Reception decides at each event, not at set-up.
    source_.receiving = false;
    click(kMinute.centre, kMinute.centre);
    EXPECT_TRUE(button(1014).isChecked());
    mouse(QEvent::MouseButtonPress, kTenSeconds.centre);
    source_.receiving = true; // started between press and release
    mouse(QEvent::MouseButtonRelease, kTenSeconds.centre, Qt::NoButton);
    EXPECT_TRUE(button(1014).isChecked());
}

TEST_F(SettingsDialog, HoverGivesTheZonesControlItsPushedLook) {
    source_.receiving = true;
    open();
    mouse(QEvent::MouseMove, kMinimise.centre, Qt::NoButton);
    EXPECT_TRUE(button(1022).isDown());
    EXPECT_FALSE(button(1021).isDown());
    mouse(QEvent::MouseMove, kMinute.centre, Qt::NoButton);
    EXPECT_FALSE(button(1022).isDown());
    EXPECT_FALSE(button(1014).isDown()) << "a radio zone rests while receiving";
    source_.receiving = false;
    mouse(QEvent::MouseMove, kMinute.centre, Qt::NoButton);
    EXPECT_TRUE(button(1014).isDown());
    mouse(QEvent::MouseMove, {10, 10}, Qt::NoButton);
    EXPECT_FALSE(button(1014).isDown());
}

TEST_F(SettingsDialog, TakesTheSettingsColoursWithTheLockedCaptionsDisabledWhileReceiving) {
    settings_.backgroundColour = 0x0000FF;
    settings_.textColour = 0x112233;
    settings_.disabledTextColour = 0x445566;
    open();
    const QColor text = colourOf(0x112233);
    const QColor disabled = colourOf(0x445566);
    auto colourOfCaption = [&](int id) {
        return dialog_->captionOf(id)->palette().color(QPalette::WindowText);
    };
    EXPECT_EQ(dialog_->palette().color(QPalette::Window), QColor(0xFF, 0, 0));
    for (const int id : {1014, 1015, 1016, 1017, 1021, 1026}) {
        EXPECT_EQ(colourOfCaption(id), text) << id;
    }
    source_.receiving = true; // follows reception at each tick
    dialog_->timerTick();
    for (const int id : {1014, 1015, 1016, 1017}) {
        EXPECT_EQ(colourOfCaption(id), disabled) << id;
    }
    for (const int id : {1021, 1023, 1013, 1032}) {
        EXPECT_EQ(colourOfCaption(id), text) << id;
    }
    for (const QLabel* label : dialog_->findChildren<QLabel*>()) {
        if (label->autoFillBackground()) { // a group's title
            EXPECT_EQ(label->palette().color(QPalette::WindowText), text);
        }
    }
    source_.receiving = false;
    dialog_->timerTick();
    EXPECT_EQ(colourOfCaption(1015), text);
    // Fields, the list and buttons keep the look of the system.
    const QPalette system = QApplication::palette();
    for (const int id : {1026, 1032, 1013, 1}) {
        const QPalette own = dialog_->control(id)->palette();
        for (const auto role : {QPalette::Window, QPalette::WindowText, QPalette::Base,
                                QPalette::Text, QPalette::Button, QPalette::ButtonText}) {
            EXPECT_EQ(own.color(role), system.color(role)) << id << " role " << role;
        }
    }
}

TEST_F(SettingsDialog, TheReadOutsFollowEveryTick) {
    open();
    for (const int frames : {97, 0, 100}) {
        source_.frames = frames;
        source_.jmaAccel = QStringLiteral("%1 gal").arg(frames * 0.125, 9, 'f', 3);
        dialog_->timerTick();
        EXPECT_EQ(field(1032).text(), QString::number(frames));
        EXPECT_EQ(field(1033).text(), source_.jmaAccel);
    }
    field(1032).setText("typed");
    dialog_->timerTick();
    EXPECT_EQ(field(1032).text(), "100");
    save();
    EXPECT_EQ(dialog_->result(), QDialog::Accepted) << "never read back";
}

TEST_F(SettingsDialog, TheColourFieldsUseAFixedWidthFontOfTheLanguage) {
    open(0);
    for (const int id : {1029, 1030, 1031}) {
        EXPECT_EQ(field(id).font().family().toStdString(), "ＭＳ ゴシック") << id;
        EXPECT_EQ(field(id).font().pointSize(), 9) << id;
    }
    for (const int language : {1, 2, 3, 4, -1}) {
        open(language);
        EXPECT_EQ(field(1029).font().family(), "Courier New") << language;
        EXPECT_EQ(field(1031).font().pointSize(), 9);
        EXPECT_NE(field(1026).font().family(), "Courier New") << "only the colour fields";
    }
}

struct LanguageCase {
    int language;
    const char* title;
    const char* save;
    const char* minuteCaption;
};

class SettingsDialogLanguages : public SettingsDialog,
                                public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(SettingsDialogLanguages, TakeTheTemplateOfTheCurrentLanguage) {
    open(GetParam().language);
    EXPECT_EQ(dialog_->windowTitle().toStdString(), GetParam().title);
    EXPECT_EQ(button(1).text().toStdString(), GetParam().save);
    EXPECT_EQ(dialog_->captionOf(1014)->text().toStdString(), GetParam().minuteCaption);
    const DialogTemplate t = resourceDialog(152, GetParam().language);
    EXPECT_EQ(dialog_->size(), t.pixelSize());
    EXPECT_EQ(field(1026).geometry(), t.pixelRect(*t.control(1026)));
    // Moved at set-up, the same in every language.
    EXPECT_EQ(dialog_->captionOf(1014)->geometry(), QRect(303, 35, 68, 14));
    EXPECT_EQ(dialog_->captionOf(1015)->geometry(), QRect(397, 35, 68, 14));
}

INSTANTIATE_TEST_SUITE_P(Languages, SettingsDialogLanguages,
                         ::testing::Values(LanguageCase{0, "設定", "保存する", "1分長"},
                                           LanguageCase{1, "Settings", "Save", "1 minute"},
                                           LanguageCase{2, "設定", "儲存", "1分鐘"},
                                           LanguageCase{3, "设置", "保存", "1分钟"},
                                           LanguageCase{4, "설정", "저장", "1분간"},
                                           LanguageCase{-1, "Settings", "Save", "1 minute"}));

// Every control inside its group box, every caption at least as wide as its
// text, in each of the five languages.
class SettingsDialogLayout : public SettingsDialog, public ::testing::WithParamInterface<int> {};

TEST_P(SettingsDialogLayout, KeepsControlsInTheirGroupsAndCaptionsUnclipped) {
    open(GetParam());
    std::vector<QRect> groups;
    for (const QGroupBox* box : dialog_->findChildren<QGroupBox*>()) {
        groups.push_back(box->geometry());
    }
    ASSERT_EQ(groups.size(), 8u);
    const QRect client = dialog_->rect();
    const std::vector<int> buttonsBelow{1, 2, 1038};
    std::vector<std::string> clipped;
    for (const QWidget* widget : dialog_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<const QGroupBox*>(widget) != nullptr || !widget->isVisible()) {
            continue;
        }
        const QRect place = widget->geometry();
        const auto* label = qobject_cast<const QLabel*>(widget);
        const std::string name =
            label != nullptr ? label->text().toStdString() : widget->metaObject()->className();
        EXPECT_TRUE(client.contains(place)) << name;
        if (label != nullptr &&
            label->fontMetrics().horizontalAdvance(label->text()) > place.width()) {
            clipped.push_back(name);
        }
        if (std::any_of(buttonsBelow.begin(), buttonsBelow.end(),
                        [&](int id) { return dialog_->control(id) == widget; })) {
            continue;
        }
        if (label != nullptr && label->autoFillBackground()) {
            // A group's title lies across its box's top line.
            EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [&](const QRect& group) {
                return place.left() >= group.left() && place.right() <= group.right() &&
                       place.top() <= group.top() && place.bottom() >= group.top();
            })) << name;
            continue;
        }
        EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [&](const QRect& group) {
            return group.contains(place);
        })) << name;
    }
    EXPECT_EQ(clipped, std::vector<std::string>{}) << "captions wider than their labels";
}

INSTANTIATE_TEST_SUITE_P(Languages, SettingsDialogLayout, ::testing::Values(0, 1, 2, 3, 4));

} // namespace
} // namespace kelvora::test
