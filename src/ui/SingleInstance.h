#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One console per configuration file. The first start of a program file listens on a
// local socket named after its ini file; a second start of the same file finds it,
// asks it to show its main window and leaves, so the kiosks never get two consoles
// on their lines. A copy under another file name has another ini and runs on its own.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(const QString& iniFileName, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // The socket name for a configuration file: per user, from a hash of the path.
    static QString ServerName(const QString& iniFileName);

    // True when this process is the first: it now listens. False when another
    // console of the same configuration runs; it has been asked to come forward.
    bool TryBecomePrimary();

    bool IsPrimary() const { return m_server != nullptr; }

signals:
    // Another start of the same program file asked for the main window.
    void activationRequested();

private:
    bool askRunning();

    QString m_name;
    QLocalServer* m_server = nullptr;
};
