#pragma once

#include <QDialog>

#include <functional>

namespace kelvora {

// The version box: the program's icon, its version line and OK. Its caption
// follows the current language; the body is the same in every language.
class CAboutDlg : public QDialog {
public:
    static constexpr const char* kVersionLine = "Kelvora, Version 1.13";

    explicit CAboutDlg(QWidget* parent = nullptr);

    // F1 without Shift, Ctrl or Alt: opens the manual.
    std::function<void()> openManual;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace kelvora
