#include "settings/CLangDialog.h"

#include "monitor/KeyboardShortcuts.h"
#include "settings/Language.h"
#include "settings/Resources.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace kelvora {

namespace {

constexpr int kOkButton = 1;
constexpr int kCancelButton = 2;
constexpr int kLanguageList = 1013;
constexpr int kCaption = 1018;
constexpr int kCaptionString = 40002;
constexpr int kTickMilliseconds = 50;

} // namespace

CLangDialog::CLangDialog(Settings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings),
      widgets_(*this, resourceDialog(151), currentLanguage()) {
    connect(widgets_.as<QPushButton>(kOkButton), &QPushButton::clicked, this, &CLangDialog::accept);
    connect(widgets_.as<QPushButton>(kCancelButton), &QPushButton::clicked, this,
            &CLangDialog::reject);
    connect(widgets_.as<QComboBox>(kLanguageList), &QComboBox::currentIndexChanged, this,
            &CLangDialog::preview);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &CLangDialog::timerTick);
    timer_.start();
}

void CLangDialog::timerTick() {
    if (!setupDone_) {
        setup();
    }
}

void CLangDialog::setup() {
    setDialogColours(*this, colourFromSetting(settings_.backgroundColour),
                     colourFromSetting(settings_.textColour));
    auto* list = widgets_.as<QComboBox>(kLanguageList);
    {
        // Filling the list is no choice of the user's: no preview.
        const QSignalBlocker quiet(list);
        list->clear();
        for (int language = 0; language < kLanguageCount; ++language) {
            list->addItem(languageDisplayName(language)); // item i is language i
        }
        const int current = settings_.LanguageIndex;
        list->setCurrentIndex(current >= 0 && current < kLanguageCount ? current : -1);
    }
    showCaption();
    setupDone_ = true;
}

void CLangDialog::showCaption() {
    const QString caption = resourceString(kCaptionString, currentLanguage());
    widgets_.as<QLabel>(kCaption)->setText(caption);
    setWindowTitle(caption);
}

void CLangDialog::preview(int item) {
    if (item < 0) {
        return;
    }
    applyLanguage(item); // LanguageIndex changes on OK only
    showCaption();
}

void CLangDialog::accept() {
    // OK before the first tick would find the list empty and choose English.
    if (!setupDone_) {
        setup();
    }
    settings_.LanguageIndex = widgets_.as<QComboBox>(kLanguageList)->currentIndex();
    applyLanguage(settings_.LanguageIndex);
    timer_.stop();
    setupDone_ = false;
    QDialog::accept();
}

void CLangDialog::reject() {
    applyLanguage(settings_.LanguageIndex); // undoes a preview
    timer_.stop();
    setupDone_ = false;
    QDialog::reject();
}

void CLangDialog::keyPressEvent(QKeyEvent* event) {
    if (isManualKey(*event) && openManual) {
        openManual();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kelvora
