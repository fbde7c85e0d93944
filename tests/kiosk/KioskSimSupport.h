#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <vector>

// The kiosk simulator as a child process: its ports, its commands, its output.
// Started with posix_spawn and plain pipes rather than QProcess, whose process start
// ThreadSanitizer cannot follow: the kiosk-link tests run under it.
class KioskSim {
public:
    // Starts count kiosks on ports the system chooses; false when it did not come up.
    bool start(int count, const QStringList& extraArgs = {});
    ~KioskSim();

    const std::vector<int>& ports() const { return m_ports; }
    void command(const QString& line);
    // Waits (pumping the main thread) until the output holds text.
    bool waitForOutput(const QString& text, int ms = 5000);
    QString output();

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    QByteArray m_output;
    std::vector<int> m_ports;
};
