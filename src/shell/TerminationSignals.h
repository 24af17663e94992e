#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace kelvora {

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl-C, the end of the session) reach the
// user-interface thread as a call of `onSignal`, so the window closes through
// its normal path: reception stopped, recording closed, settings written.
// The handler only writes a byte to a pipe; everything else runs in the event
// loop. One instance at a time.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal,
                                QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void readPending();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kelvora
