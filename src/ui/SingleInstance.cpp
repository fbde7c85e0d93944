#include "ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
constexpr int kConnectTimeout = 1000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");
} // namespace

TSingleInstance::TSingleInstance(const QString& iniFileName, QObject* parent)
    : QObject(parent)
    , m_name(ServerName(iniFileName)) {}

TSingleInstance::~TSingleInstance() {
    if (m_server)
        m_server->close();
}

QString TSingleInstance::ServerName(const QString& iniFileName) {
    const QByteArray hash =
        QCryptographicHash::hash(iniFileName.toUtf8(), QCryptographicHash::Sha256).toHex();
    // The user id keeps two operators' sessions on one machine from talking to each
    // other's sockets, which they could not open anyway.
    return QStringLiteral("orvanta-console-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(hash.left(24)));
}

bool TSingleInstance::askRunning() {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectTimeout))
        return false;
    socket.write(kActivate);
    socket.waitForBytesWritten(kConnectTimeout);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectTimeout);
    return true;
}

bool TSingleInstance::TryBecomePrimary() {
    if (m_server)
        return true;
    if (askRunning())
        return false;

    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_name)) {
        // Either a console started in the same moment, or a socket file left by one
        // that crashed. Only the second may be removed.
        if (askRunning()) {
            delete server;
            return false;
        }
        QLocalServer::removeServer(m_name);
        if (!server->listen(m_name)) {
            // No way to guard this configuration: run rather than refuse to start.
            delete server;
            return true;
        }
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                while (peer->canReadLine())
                    if (peer->readLine() == kActivate)
                        emit activationRequested();
            });
        }
    });
    return true;
}
