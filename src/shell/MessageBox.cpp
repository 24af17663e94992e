#include "shell/MessageBox.h"

#include <QMessageBox>

namespace kelvora {

void showMessageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace kelvora
