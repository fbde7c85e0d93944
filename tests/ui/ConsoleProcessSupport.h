#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <vector>

class KioskSim;

// The console program in a process of its own, as a desktop session starts it: offscreen,
// with a data folder of the test's own whose ini lists the kiosks it is to connect to.
class ConsoleProcess {
public:
    ConsoleProcess() = default;
    ~ConsoleProcess();

    // Writes the ini of kiosks on 127.0.0.1 at ports ("Киоск 1", "Киоск 2", ...) and
    // starts the program; false, with the reason in Error(), when it does not start.
    bool Start(const std::vector<int>& ports);
    // Every kiosk of sim connected and paying sums[i]: true once each order window keeps
    // its kiosk's line alive (the window is open); false, with the simulator's output in
    // Error(), when that did not happen within 10 s.
    bool OpenOrderWindows(KioskSim& sim, const QList<int>& sums);
    // Sends signal to the program; true when it ended within ms. *tookMs: from the signal
    // to its end.
    bool SignalAndWait(int signal, int ms, qint64* tookMs = nullptr);

    const QProcess& Process() const { return m_process; }
    // The data folder the program found: its ini and its journal.
    QString DataFolder() const;
    QString Error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
};
