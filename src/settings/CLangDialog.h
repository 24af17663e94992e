#pragma once

#include "settings/DialogBuilder.h"
#include "settings/Settings.h"

#include <QDialog>
#include <QTimer>

#include <functional>

namespace kelvora {

// The language dialog (template 151, one layout for every language): the
// five languages in a list. Choosing one applies it at once as a preview, so
// the dialog's own caption turns into that language; OK keeps the choice in
// LanguageIndex, Cancel returns to the language before. The caller reloads
// the main window's language-dependent parts afterwards, whatever the result.
class CLangDialog : public QDialog {
    Q_OBJECT
public:
    explicit CLangDialog(Settings& settings, QWidget* parent = nullptr);

    // The 50-ms timer calls it; the first tick fills the list and the
    // caption. Tests may call it.
    void timerTick();
    bool setupDone() const { return setupDone_; }
    // The control with this number in template 151, or nullptr.
    QWidget* control(int id) const { return widgets_.control(id); }

    void accept() override; // OK, Enter
    void reject() override; // Cancel, Escape, the close box

    // F1 without Shift, Ctrl or Alt: opens the manual (the program's part).
    std::function<void()> openManual;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setup();
    void preview(int item);
    void showCaption();

    Settings& settings_;
    DialogWidgets widgets_;
    QTimer timer_;
    bool setupDone_ = false;
};

} // namespace kelvora
