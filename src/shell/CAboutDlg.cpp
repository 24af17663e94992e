#include "shell/CAboutDlg.h"

#include "monitor/IntensityImages.h"
#include "monitor/KeyboardShortcuts.h"
#include "settings/Language.h"
#include "settings/Resources.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace kelvora {

namespace {
// Dialog units of "MS UI Gothic" 9 pt (7 x 12 base units) to pixels.
int unitsX(int x) {
    return (x * 14 + 4) / 8;
}
int unitsY(int y) {
    return (y * 24 + 8) / 16;
}
} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(resourceString(40000, currentLanguage()));
    setFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    setFixedSize(unitsX(170), unitsY(62));
    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon().pixmap(32, 32));
    icon->setGeometry(unitsX(14), unitsY(14), 32, 32);
    auto* version = new QLabel(QString::fromUtf8(kVersionLine), this);
    version->setGeometry(unitsX(42), unitsY(14), unitsX(114), unitsY(8) + 4);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(unitsX(113), unitsY(41), unitsX(50), unitsY(14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::keyPressEvent(QKeyEvent* event) {
    if (isManualKey(*event) && openManual) {
        openManual();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kelvora
