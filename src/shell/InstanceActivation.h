#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QLocalServer;

namespace kelvora {

// How a second start reaches the running monitor: a local socket in the
// single-instance lock's private folder. The second asks with "show"; the
// first shows its window and answers "shown", and only then does the second
// end quietly.
class ActivationServer {
public:
    ActivationServer();
    ~ActivationServer();
    ActivationServer(const ActivationServer&) = delete;
    ActivationServer& operator=(const ActivationServer&) = delete;

    // Listens at `socketPath`. Whoever holds the instance lock owns the name,
    // so a socket left there by a killed instance is replaced. False when the
    // socket cannot be made; a second start then shows its message.
    bool listen(const QString& socketPath);

    // Run on the user-interface thread for each request, before the answer.
    std::function<void()> showWindow;

private:
    std::unique_ptr<QLocalServer> server_;
};

// Asks the monitor listening at `socketPath` to show its window. True once it
// has answered, within `limit`; false when nobody listens or answers.
bool requestActivation(const QString& socketPath, std::chrono::milliseconds limit);

// The socket beside the lock file `lockPath` ("….lock" becomes "….socket").
QString activationSocketPath(const std::string& lockPath);

} // namespace kelvora
