#pragma once

#include "Command.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <vector>

namespace kiosksim {

class SimKiosk;
class Trace;

// The kiosks of one simulator process and the commands that act on them at once (all
// but the waits, which a CommandRunner keeps).
class Simulator : public QObject {
    Q_OBJECT
public:
    struct Options {
        QHostAddress address{QHostAddress::LocalHost};
        quint16 port = 0;
        int count = 1;
        QString version;
    };

    Simulator(const Options& options, Trace& trace, QObject* parent = nullptr);
    ~Simulator() override;

    // Listens on every kiosk's port; fails as a whole when one port cannot be had.
    bool start(QString* error);

    int count() const { return int(m_kiosks.size()); }
    // Kiosks are numbered from 1.
    SimKiosk* kiosk(int number) const { return m_kiosks[size_t(number - 1)]; }
    bool isShuttingDown() const { return m_shuttingDown; }

    void execute(const Command& command);

    // Closes every connection (letting written data go out first, within a bound) and
    // then ends the event loop.
    void shutdown();

signals:
    void connectionChanged(kiosksim::SimKiosk* kiosk, bool connected);
    void lineReceived(kiosksim::SimKiosk* kiosk, const QByteArray& line);

private:
    void pay(const Command& command);
    void status(const Command& command);
    void reportUnsent(const Command& command, const QList<int>& unsent);
    bool loadText(const QString& name, const QString& sample, const QString& baseDir,
                  QString* text);

    Trace& m_trace;
    Options m_options;
    std::vector<SimKiosk*> m_kiosks;
    QTimer m_shutdownTimer;
    int m_shutdownTicks = 0;
    bool m_shuttingDown = false;
};

} // namespace kiosksim
