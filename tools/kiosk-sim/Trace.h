#pragma once

#include <QFile>
#include <QString>

namespace kiosksim {

// The simulator's output: one line per event, "HH:mm:ss.zzz [kiosk] text", written to
// standard output (flushed per line, since tests read it through a pipe) and, when asked
// for, to a log file.
class Trace {
public:
    Trace() = default;
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    bool openLog(const QString& fileName, QString* error);
    // Traffic lines (recv/sent) are left out when quiet, for runs with many kiosks.
    void setQuiet(bool quiet) { m_quiet = quiet; }

    void traffic(int kiosk, const QString& text);
    void event(int kiosk, const QString& text);
    void message(const QString& text);

private:
    void write(const QString& line);

    QFile m_log;
    bool m_quiet = false;
};

} // namespace kiosksim
