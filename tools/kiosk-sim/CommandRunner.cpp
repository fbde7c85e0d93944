#include "CommandRunner.h"

#include "SimKiosk.h"
#include "Simulator.h"
#include "Trace.h"

#include <limits>

namespace kiosksim {

CommandRunner::CommandRunner(Simulator& simulator, Trace& trace, QObject* parent)
    : QObject(parent)
    , m_simulator(simulator)
    , m_trace(trace) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { endWait(true); });
    connect(&simulator, &Simulator::connectionChanged, this, &CommandRunner::checkWait);
    connect(&simulator, &Simulator::lineReceived, this, &CommandRunner::onLineReceived);
}

void CommandRunner::append(const Command& command) {
    m_queue.enqueue(command);
    schedule();
}

void CommandRunner::appendLine(const QString& line, const QString& baseDir) {
    Command command;
    QString error;
    switch (parseCommand(line, m_simulator.count(), baseDir, &command, &error)) {
    case ParseResult::Command:
        append(command);
        break;
    case ParseResult::Error:
        m_trace.message(QStringLiteral("error: %1: %2").arg(line.trimmed(), error));
        break;
    case ParseResult::Empty:
        break;
    }
}

void CommandRunner::schedule() {
    // Commands run from the event loop, never inside a kiosk's signal: a command that a
    // received line releases then acts after the kiosk has finished with that line.
    if (m_scheduled || m_waiting)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, &CommandRunner::run);
}

void CommandRunner::run() {
    m_scheduled = false;
    while (!m_waiting && !m_queue.isEmpty() && !m_simulator.isShuttingDown())
        begin(m_queue.dequeue());
}

void CommandRunner::begin(const Command& command) {
    switch (command.verb) {
    case Verb::Sleep:
        m_waiting = command;
        m_timer.start(int(qMin<qint64>(command.number, std::numeric_limits<int>::max())));
        return;
    case Verb::WaitRecv:
        m_pending.clear();
        for (int n = command.first; n <= command.last; ++n)
            m_pending.insert(n);
        [[fallthrough]];
    case Verb::WaitConnected:
    case Verb::WaitDisconnected:
        m_waiting = command;
        if (waitSatisfied()) {
            m_waiting.reset();
            return;
        }
        if (command.number >= 0)
            m_timer.start(int(qMin<qint64>(command.number, std::numeric_limits<int>::max())));
        return;
    default:
        m_simulator.execute(command);
        return;
    }
}

bool CommandRunner::waitSatisfied() const {
    const Command& c = *m_waiting;
    switch (c.verb) {
    case Verb::WaitConnected:
        for (int n = c.first; n <= c.last; ++n) {
            if (!m_simulator.kiosk(n)->isConnected())
                return false;
        }
        return true;
    case Verb::WaitDisconnected:
        for (int n = c.first; n <= c.last; ++n) {
            if (m_simulator.kiosk(n)->hasConnection())
                return false;
        }
        return true;
    case Verb::WaitRecv:
        return m_pending.isEmpty();
    default:
        return false;
    }
}

void CommandRunner::checkWait() {
    if (m_waiting && m_waiting->verb != Verb::Sleep && waitSatisfied())
        endWait(false);
}

void CommandRunner::endWait(bool timedOut) {
    if (!m_waiting)
        return;
    if (timedOut && m_waiting->verb != Verb::Sleep)
        m_trace.message(QStringLiteral("timeout: %1").arg(m_waiting->source));
    m_timer.stop();
    m_waiting.reset();
    schedule();
}

void CommandRunner::onLineReceived(SimKiosk* kiosk, const QByteArray& line) {
    if (m_waiting && m_waiting->verb == Verb::WaitRecv && m_waiting->words.contains(line)) {
        m_pending.remove(kiosk->number());
        checkWait();
    }
}

} // namespace kiosksim
