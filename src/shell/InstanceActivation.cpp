#include "shell/InstanceActivation.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <algorithm>

namespace kelvora {

namespace {

const QByteArray kRequest = QByteArrayLiteral("show\n");
const QByteArray kAnswer = QByteArrayLiteral("shown\n");
// A request is one short line; anything longer is no client of ours.
constexpr qint64 kLongestLine = 64;

} // namespace

ActivationServer::ActivationServer() = default;

ActivationServer::~ActivationServer() = default;

bool ActivationServer::listen(const QString& socketPath) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath)) {
        server_.reset();
        return false;
    }
    QLocalServer* server = server_.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
        while (QLocalSocket* client = server->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > kLongestLine) {
                        client->abort();
                    }
                    return;
                }
                const QByteArray line = client->readLine(kLongestLine);
                if (line == kRequest) {
                    if (showWindow) {
                        showWindow();
                    }
                    client->write(kAnswer);
                    client->flush();
                }
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

bool requestActivation(const QString& socketPath, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    auto left = [&deadline] {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<long long>(remaining.count(), 0));
    };
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(left())) {
        return false;
    }
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(left())) {
        return false;
    }
    while (!socket.canReadLine()) {
        const int remaining = left();
        if (remaining == 0 || !socket.waitForReadyRead(remaining)) {
            return false;
        }
    }
    return socket.readLine(kLongestLine) == kAnswer;
}

QString activationSocketPath(const std::string& lockPath) {
    QString path = QString::fromStdString(lockPath);
    if (path.endsWith(QLatin1String(".lock"))) {
        path.chop(5);
    }
    return path + QLatin1String(".socket");
}

} // namespace kelvora
