#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

// The kiosk simulator as a child process: its ports, its commands, its output.
class KioskSim {
public:
    // Starts count kiosks on ports the system chooses; false when it did not come up.
    bool start(int count, const QStringList& extraArgs = {});
    ~KioskSim();

    const std::vector<int>& ports() const { return m_ports; }
    void command(const QString& line);
    // Waits (pumping the main thread) until the output holds text, counted from now on
    // when fresh is true.
    bool waitForOutput(const QString& text, int ms = 5000);
    QString output();

private:
    QProcess m_process;
    QString m_output;
    std::vector<int> m_ports;
};
