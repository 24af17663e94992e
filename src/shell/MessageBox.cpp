#include "shell/MessageBox.h"

#include <QMessageBox>

namespace kelvora {

void showMessageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text,
                    QMessageBox::Ok, parent);
    // Above its window also when that one stays on top of every other.
    if (parent != nullptr && parent->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    box.exec();
}

} // namespace kelvora
