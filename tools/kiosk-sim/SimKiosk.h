#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace kiosksim {

class Trace;

// One simulated kiosk: it listens on its port, serves one console connection at a time
// and plays the kiosk's side of the line protocol. Everything runs in the one event loop
// of the process, so a thousand of them cost a thousand idle sockets, not threads.
class SimKiosk : public QObject {
    Q_OBJECT
public:
    enum class WorkState { Idle, Ordering, Finished };

    SimKiosk(int number, const QHostAddress& address, quint16 port, const QString& version,
             Trace& trace, QObject* parent = nullptr);
    ~SimKiosk() override;

    int number() const { return m_number; }
    quint16 port() const { return m_port; }
    bool isListening() const;
    bool isConnected() const;
    // True from the accept until the socket has closed, also while it is being dropped.
    bool hasConnection() const { return !m_socket.isNull(); }
    bool isSilent() const { return m_silent; }
    WorkState workState() const { return m_state; }
    QString version() const { return m_version; }

    static QByteArray stateWord(WorkState state);

    bool listen(QString* error);
    void stopListening();
    void setVersion(const QString& version) { m_version = version; }
    void setSilent(bool silent) { m_silent = silent; }
    // Changes the state and reports it to the console when connected.
    void setWorkState(WorkState state);
    // Sends a line (CR LF added) or raw bytes; false, and nothing is traced, when there is
    // no connection (the caller reports it once for all the kiosks of a command).
    bool sendLine(const QByteArray& line);
    bool sendRaw(const QByteArray& bytes);
    // Closes the connection after what was written has gone out.
    void drop();

signals:
    void connectionChanged(kiosksim::SimKiosk* kiosk, bool connected);
    void lineReceived(kiosksim::SimKiosk* kiosk, const QByteArray& line);

private:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected(QTcpSocket* socket);
    void handleLine(const QByteArray& line);

    const int m_number;
    const QHostAddress m_address;
    quint16 m_port;
    QString m_version;
    Trace& m_trace;
    QTcpServer* m_server = nullptr;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_inBuffer;
    WorkState m_state = WorkState::Idle;
    bool m_silent = false;
};

} // namespace kiosksim
