// The language dialog offscreen: its list and selection, the title from its
// first tick, the preview while choosing, and what OK and Cancel leave.
#include "settings/CLangDialog.h"

#include "monitor/Fonts.h"
#include "settings/Language.h"
#include "support/OffscreenApplication.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>

#include <memory>
#include <string>

namespace kelvora::test {
namespace {

class LanguageDialog : public ::testing::Test {
protected:
    LanguageDialog() { installFontSubstitutions(); }
    ~LanguageDialog() override { applyLanguage(0); }

    // The dialog after its first tick, as the user first sees it.
    CLangDialog& open(int language) {
        settings_.LanguageIndex = language;
        applyLanguage(language);
        dialog_ = std::make_unique<CLangDialog>(settings_);
        dialog_->show();
        dialog_->timerTick();
        return *dialog_;
    }
    QComboBox& list() { return *qobject_cast<QComboBox*>(dialog_->control(1013)); }
    QLabel& caption() { return *qobject_cast<QLabel*>(dialog_->control(1018)); }
    std::string title() { return dialog_->windowTitle().toStdString(); }
    void press(int button) { qobject_cast<QAbstractButton*>(dialog_->control(button))->click(); }

    QApplication& application_ = offscreenApplication(); // before any widget
    Settings settings_;
    std::unique_ptr<CLangDialog> dialog_;
};

TEST_F(LanguageDialog, ListsTheFiveLanguagesWithTheCurrentOneChosen) {
    const char* names[] = {"日本語 (jpn)", "English (eng)", "繁體中文 (cht)", "简体中文 (chs)",
                           "한국어 (kor)"};
    for (int language = 0; language < 5; ++language) {
        open(language);
        ASSERT_EQ(list().count(), 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(list().itemText(i).toStdString(), names[i]);
        }
        EXPECT_EQ(list().currentIndex(), language);
        EXPECT_EQ(currentLanguage(), language) << "filling the list is no preview";
    }
}

TEST_F(LanguageDialog, TheTitleIsTheTemplatesUntilTheFirstTick) {
    CLangDialog dialog(settings_); // an empty store: Japanese
    EXPECT_EQ(dialog.windowTitle(), "Langage Select");
    EXPECT_EQ(qobject_cast<QLabel*>(dialog.control(1018))->text(), "Langage Select");
    dialog.timerTick();
    EXPECT_EQ(dialog.windowTitle().toStdString(), "言語選択  (Language)");
    EXPECT_EQ(qobject_cast<QLabel*>(dialog.control(1018))->text().toStdString(),
              "言語選択  (Language)");
    EXPECT_EQ(qobject_cast<QComboBox*>(dialog.control(1013))->currentIndex(), 0);
}

TEST_F(LanguageDialog, ChoosingPreviewsAndCancelReturnsToTheLanguageBefore) {
    for (const int way : {0, 1, 2}) { // the Cancel button, Escape, the close box
        open(1);
        list().setCurrentIndex(4);
        EXPECT_EQ(title(), "언어 선택  (Language)");
        EXPECT_EQ(caption().text().toStdString(), "언어 선택  (Language)");
        EXPECT_EQ(currentLanguage(), 4);
        EXPECT_EQ(settings_.LanguageIndex, 1) << "only OK changes it";
        list().setCurrentIndex(2);
        EXPECT_EQ(title(), "語言選擇  (Language)");
        if (way == 0) {
            press(2);
        } else if (way == 1) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&list(), &escape);
        } else {
            dialog_->close();
        }
        EXPECT_EQ(dialog_->result(), QDialog::Rejected) << way;
        EXPECT_FALSE(dialog_->isVisible()) << way;
        EXPECT_EQ(currentLanguage(), 1) << way;
        EXPECT_EQ(settings_.LanguageIndex, 1) << way;
    }
}

TEST_F(LanguageDialog, OkKeepsTheChoice) {
    open(0);
    list().setCurrentIndex(3);
    press(1);
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(settings_.LanguageIndex, 3);
    EXPECT_EQ(currentLanguage(), 3);
    EXPECT_FALSE(dialog_->setupDone());
}

TEST_F(LanguageDialog, OkBeforeTheFirstTickKeepsTheLanguage) {
    settings_.LanguageIndex = 3;
    applyLanguage(3);
    CLangDialog dialog(settings_);
    dialog.accept(); // the list is still empty
    EXPECT_EQ(settings_.LanguageIndex, 3);
    EXPECT_EQ(currentLanguage(), 3);
}

TEST_F(LanguageDialog, AnIndexOutsideTheFiveChoosesNothingAndOkKeepsIt) {
    for (const int language : {-1, 7}) {
        open(language);
        EXPECT_EQ(list().currentIndex(), -1);
        EXPECT_EQ(title(), "Language Select") << "English";
        press(1);
        EXPECT_EQ(settings_.LanguageIndex, -1) << "OK takes the list's empty selection";
        EXPECT_EQ(currentLanguage(), -1);
    }
}

TEST_F(LanguageDialog, TakesTheSettingsColoursFromTheFirstTick) {
    settings_.backgroundColour = 0x0000FF;
    settings_.textColour = 0x00FF00;
    open(1);
    EXPECT_EQ(dialog_->palette().color(QPalette::Window), QColor(0xFF, 0, 0));
    EXPECT_EQ(caption().palette().color(QPalette::WindowText), QColor(0, 0xFF, 0));
    EXPECT_EQ(list().palette().color(QPalette::Button),
              QApplication::palette().color(QPalette::Button))
        << "the list keeps the system's look";
}

TEST_F(LanguageDialog, TheCaptionFitsItsLabelInEveryLanguage) {
    open(0);
    EXPECT_EQ(dialog_->size(), QSize(341, 102)); // 227 x 63 units of "MS Shell Dlg" 8 pt
    for (int language = 0; language < 5; ++language) {
        list().setCurrentIndex(language);
        EXPECT_LE(caption().fontMetrics().horizontalAdvance(caption().text()), caption().width())
            << caption().text().toStdString();
    }
}

} // namespace
} // namespace kelvora::test
