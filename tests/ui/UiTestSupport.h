#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QTcpServer;
class QTcpSocket;
class TfrmMain;

// A kiosk on loopback, driven by the test: it answers GET_VERSION with its version,
// answers every other command except KEEP_ALIVE with a line the console ignores (so
// no command stays outstanding), and records every line it receives.
class FakeKiosk : public QObject {
    Q_OBJECT
public:
    struct Received {
        QByteArray line;
        qint64 ms; // since the kiosk was made
    };

    explicit FakeKiosk(QString version = QStringLiteral("Kiosk 14.2.0.7"));
    ~FakeKiosk() override;

    int Port() const { return m_port; }
    bool Connected() const { return m_peer != nullptr; }
    void Send(const QByteArray& line);
    // Closes the current connection and refuses new ones.
    void Shutdown();

    const QList<Received>& Lines() const { return m_lines; }
    int Count(const QByteArray& line) const;
    qint64 Elapsed() const { return m_clock.elapsed(); }

private:
    void onReadyRead();

    QTcpServer* m_server;
    QTcpSocket* m_peer = nullptr;
    QByteArray m_buffer;
    QString m_version;
    QList<Received> m_lines;
    QElapsedTimer m_clock;
    int m_port = 0;
};

// Answers the next modal message box with button, once it appears (within ms). The
// text of the box goes to *text when given.
void AnswerMessageBox(QMessageBox::StandardButton button, QString* text = nullptr,
                      QString* title = nullptr, int ms = 10000);

// The configuration file of one test: IniFileName points into a temporary folder
// for the life of this object.
class TempIni {
public:
    explicit TempIni(const QString& fileName = QStringLiteral("Console.ini"));
    ~TempIni();
    QString Path() const { return m_path; }
    // Writes a DeviceList of kiosks on 127.0.0.1 at the given ports (enabled unless
    // the port is listed in disabledIndexes).
    void WriteDevices(const QList<int>& ports, const QList<int>& disabledIndexes = {});
    QString Read() const;

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_oldIni;
};
