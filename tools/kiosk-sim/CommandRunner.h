#pragma once

#include "Command.h"

#include <QObject>
#include <QQueue>
#include <QSet>
#include <QTimer>

#include <optional>

namespace kiosksim {

class SimKiosk;
class Simulator;
class Trace;

// Runs the commands of one source (the script, or standard input) one after the other.
// sleep and the waits hold back this source's later commands without holding up the
// event loop, so the kiosks keep answering and the other source keeps running.
class CommandRunner : public QObject {
    Q_OBJECT
public:
    CommandRunner(Simulator& simulator, Trace& trace, QObject* parent = nullptr);

    void append(const Command& command);
    // Parses a line typed or piped in; a faulty line is reported and skipped.
    void appendLine(const QString& line, const QString& baseDir);
    bool isIdle() const { return m_queue.isEmpty() && !m_waiting; }

private:
    void schedule();
    void run();
    void begin(const Command& command);
    bool waitSatisfied() const;
    void checkWait();
    void endWait(bool timedOut);
    void onLineReceived(kiosksim::SimKiosk* kiosk, const QByteArray& line);

    Simulator& m_simulator;
    Trace& m_trace;
    QQueue<Command> m_queue;
    std::optional<Command> m_waiting;
    // Kiosks that have not yet received the word of a wait-recv.
    QSet<int> m_pending;
    QTimer m_timer;
    bool m_scheduled = false;
};

} // namespace kiosksim
