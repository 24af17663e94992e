#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace kelvora {

// F1's manual, "取扱説明書.txt" in the working folder, handed to the
// desktop's opener. When the file is missing, the
// opener cannot be started or it ends with a failure (nothing on the desktop
// can open the file), "ファイルを開けません。" appears above the window F1
// was pressed in. An opener still running when the program ends is stopped;
// a viewer it has started goes on.
class ManualOpener : public QObject {
public:
    static constexpr const char* kDesktopOpener = "xdg-open";

    // `opener`: the program given the manual's path; tests give their own.
    explicit ManualOpener(QString opener = QString::fromLatin1(kDesktopOpener));
    ~ManualOpener() override;
    ManualOpener(const ManualOpener&) = delete;
    ManualOpener& operator=(const ManualOpener&) = delete;

    void open(QWidget& asking);
    // Openers started whose end has not been handled yet.
    int pending() const { return pending_; }

private:
    void fail(const QPointer<QWidget>& asking);

    QString opener_;
    int pending_ = 0;
};

} // namespace kelvora
