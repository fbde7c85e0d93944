#include "SimKiosk.h"

#include "Escaping.h"
#include "Trace.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kiosksim {

namespace {

const QByteArray LineEnd = "\r\n";

// The console sends short command words; a peer that sends this much without a line end
// is broken, and the buffer must not grow without bound.
constexpr qsizetype MaxInBuffer = 1024 * 1024;

// How much of a line the trace shows.
constexpr qsizetype ShownReceived = 4096;
constexpr qsizetype ShownSent = 200;

// drop waits this long for written data to leave before it cuts the connection.
constexpr int DropGraceMs = 2000;

QString peerText(const QTcpSocket* socket) {
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace

SimKiosk::SimKiosk(int number, const QHostAddress& address, quint16 port, const QString& version,
                   Trace& trace, QObject* parent)
    : QObject(parent)
    , m_number(number)
    , m_address(address)
    , m_port(port)
    , m_version(version)
    , m_trace(trace) {}

SimKiosk::~SimKiosk() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

bool SimKiosk::isListening() const {
    return m_server && m_server->isListening();
}

bool SimKiosk::isConnected() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

QByteArray SimKiosk::stateWord(WorkState state) {
    switch (state) {
    case WorkState::Idle:
        return "SESSION_STOP";
    case WorkState::Ordering:
        return "SESSION_START";
    case WorkState::Finished:
        return "ORDERING_FINISH";
    }
    return {};
}

bool SimKiosk::listen(QString* error) {
    if (isListening())
        return true;
    if (!m_server) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &SimKiosk::onNewConnection);
    }
    if (!m_server->listen(m_address, m_port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(m_address.toString())
                     .arg(m_port)
                     .arg(m_server->errorString());
        return false;
    }
    // Port 0 lets the system choose; keep the chosen port so that online reuses it.
    m_port = m_server->serverPort();
    m_trace.event(m_number,
                  QStringLiteral("listening on %1:%2").arg(m_address.toString()).arg(m_port));
    return true;
}

void SimKiosk::stopListening() {
    if (QTcpSocket* socket = m_socket) {
        socket->abort();
        // abort() emits disconnected() only from a connected state; forget it either way.
        onDisconnected(socket);
    }
    if (isListening()) {
        m_server->close();
        m_trace.event(m_number, QStringLiteral("offline"));
    }
}

void SimKiosk::setWorkState(WorkState state) {
    m_state = state;
    if (isConnected())
        sendLine(stateWord(state));
}

bool SimKiosk::sendLine(const QByteArray& line) {
    if (!isConnected())
        return false;
    m_socket->write(line + LineEnd);
    m_trace.traffic(m_number, QStringLiteral("sent %1").arg(printable(line, ShownSent)));
    return true;
}

bool SimKiosk::sendRaw(const QByteArray& bytes) {
    if (!isConnected())
        return false;
    m_socket->write(bytes);
    m_trace.traffic(m_number, QStringLiteral("sent raw %1").arg(printable(bytes, ShownSent)));
    return true;
}

void SimKiosk::drop() {
    if (!m_socket)
        return;
    QTcpSocket* socket = m_socket;
    m_trace.event(m_number, QStringLiteral("dropping the connection"));
    socket->disconnectFromHost();
    // A console that does not read would keep the socket closing for ever.
    QTimer::singleShot(DropGraceMs, socket, [socket] { socket->abort(); });
}

void SimKiosk::onNewConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_socket) {
            // A console that reconnects has given up the old connection, which may be
            // half dead; the newest one is the one that is served.
            m_trace.event(m_number, QStringLiteral("new connection from %1 replaces %2")
                                        .arg(peerText(socket), peerText(m_socket)));
            QTcpSocket* old = m_socket;
            m_socket = nullptr;
            old->disconnect(this);
            old->abort();
            old->deleteLater();
        } else {
            m_trace.event(m_number, QStringLiteral("connected from %1").arg(peerText(socket)));
        }
        m_socket = socket;
        m_inBuffer.clear();
        connect(socket, &QTcpSocket::readyRead, this, &SimKiosk::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { onDisconnected(socket); });
        emit connectionChanged(this, true);
    }
}

void SimKiosk::onDisconnected(QTcpSocket* socket) {
    if (!socket || socket != m_socket)
        return;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->deleteLater();
    if (!m_inBuffer.isEmpty()) {
        m_trace.event(m_number, QStringLiteral("unfinished line at the close: %1")
                                    .arg(printable(m_inBuffer, ShownReceived)));
        m_inBuffer.clear();
    }
    m_trace.event(m_number, QStringLiteral("disconnected"));
    emit connectionChanged(this, false);
}

void SimKiosk::onReadyRead() {
    // The socket may be replaced or closed by a handler of a line; read from the one that
    // is current when each chunk is taken.
    while (m_socket && m_socket->bytesAvailable() > 0) {
        m_inBuffer += m_socket->readAll();
        qsizetype end;
        while (m_socket && (end = m_inBuffer.indexOf(LineEnd)) >= 0) {
            const QByteArray line = m_inBuffer.first(end);
            m_inBuffer.remove(0, end + LineEnd.size());
            handleLine(line);
        }
        if (m_inBuffer.size() > MaxInBuffer) {
            m_trace.event(
                m_number,
                QStringLiteral("discarded %1 bytes without a line end").arg(m_inBuffer.size()));
            m_inBuffer.clear();
        }
    }
}

void SimKiosk::handleLine(const QByteArray& line) {
    m_trace.traffic(m_number, QStringLiteral("recv %1").arg(printable(line, ShownReceived)));
    if (m_silent) {
        emit lineReceived(this, line);
        return;
    }
    if (line == "GET_VERSION") {
        sendLine("VERSION=" + m_version.toUtf8());
    } else if (line == "GET_WORK_STATE") {
        sendLine(stateWord(m_state));
    } else if (line == "ORDER_CONFIRM" || line == "ORDER_CANCEL") {
        sendLine("PAY_END");
        setWorkState(WorkState::Idle);
    } else if (line == "ORDER_RETURN") {
        sendLine("PAY_END");
        setWorkState(WorkState::Ordering);
    }
    // KEEP_ALIVE and anything else only shows in the trace.
    emit lineReceived(this, line);
}

} // namespace kiosksim
