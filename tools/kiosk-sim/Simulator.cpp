#include "Simulator.h"

#include "Escaping.h"
#include "SimKiosk.h"
#include "Trace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace kiosksim {

namespace {

const QString SampleOrder = QStringLiteral(":/samples/order.xml");
const QString SampleInvoice = QStringLiteral(":/samples/invoice.txt");
// The total of the sample order, sent when pay names no sum.
const QString SampleSum = QStringLiteral("730.00");

constexpr int ShutdownPollMs = 20;
constexpr int ShutdownMaxTicks = 2500 / ShutdownPollMs;

} // namespace

Simulator::Simulator(const Options& options, Trace& trace, QObject* parent)
    : QObject(parent)
    , m_trace(trace)
    , m_options(options) {
    m_kiosks.reserve(size_t(options.count));
    for (int i = 0; i < options.count; ++i) {
        const quint16 port = options.port == 0 ? 0 : quint16(options.port + i);
        auto* kiosk = new SimKiosk(i + 1, options.address, port, options.version, trace, this);
        connect(kiosk, &SimKiosk::connectionChanged, this, &Simulator::connectionChanged);
        connect(kiosk, &SimKiosk::lineReceived, this, &Simulator::lineReceived);
        m_kiosks.push_back(kiosk);
    }
    m_shutdownTimer.setInterval(ShutdownPollMs);
    connect(&m_shutdownTimer, &QTimer::timeout, this, [this] {
        bool open = false;
        for (SimKiosk* kiosk : m_kiosks)
            open = open || kiosk->hasConnection();
        if (!open || ++m_shutdownTicks > ShutdownMaxTicks) {
            m_shutdownTimer.stop();
            QCoreApplication::exit(0);
        }
    });
}

Simulator::~Simulator() = default;

bool Simulator::start(QString* error) {
    for (SimKiosk* kiosk : m_kiosks) {
        if (!kiosk->listen(error))
            return false;
    }
    const quint16 first = m_kiosks.front()->port();
    const quint16 last = m_kiosks.back()->port();
    m_trace.message(QStringLiteral("ready: %1 kiosk(s) on %2 port(s) %3%4, version \"%5\"")
                        .arg(count())
                        .arg(m_options.address.toString())
                        .arg(first)
                        .arg(last != first ? QStringLiteral("-%1").arg(last) : QString())
                        .arg(m_options.version));
    return true;
}

void Simulator::execute(const Command& command) {
    if (m_shuttingDown)
        return;
    switch (command.verb) {
    case Verb::Pay:
        pay(command);
        return;
    case Verb::Status:
        status(command);
        return;
    case Verb::Echo:
        m_trace.message(command.text);
        return;
    case Verb::Help:
        for (const QString& line : commandHelp().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            m_trace.message(line);
        return;
    case Verb::Quit:
        shutdown();
        return;
    default:
        break;
    }

    QByteArray flood;
    if (command.verb == Verb::Flood) {
        flood = command.bytes.repeated(command.number / command.bytes.size() + 1);
        flood.truncate(command.number);
    }
    QList<int> unsent;
    const auto sent = [&unsent](int n, bool done) {
        if (!done)
            unsent.append(n);
    };
    for (int n = command.first; n <= command.last; ++n) {
        SimKiosk* k = kiosk(n);
        switch (command.verb) {
        case Verb::Start:
            k->setWorkState(SimKiosk::WorkState::Ordering);
            break;
        case Verb::Finish:
            k->setWorkState(SimKiosk::WorkState::Finished);
            break;
        case Verb::Stop:
            k->setWorkState(SimKiosk::WorkState::Idle);
            break;
        case Verb::End:
            sent(n, k->sendLine("PAY_END"));
            break;
        case Verb::Drop:
            k->drop();
            break;
        case Verb::Silent:
            k->setSilent(true);
            break;
        case Verb::Talk:
            k->setSilent(false);
            break;
        case Verb::Offline:
            k->stopListening();
            break;
        case Verb::Online: {
            QString error;
            if (!k->listen(&error))
                m_trace.event(n, QStringLiteral("error: %1").arg(error));
            break;
        }
        case Verb::Send:
            sent(n, k->sendLine(command.bytes));
            break;
        case Verb::Write:
            sent(n, k->sendRaw(command.bytes));
            break;
        case Verb::Flood:
            sent(n, k->sendRaw(flood));
            break;
        case Verb::Version:
            k->setVersion(command.text);
            break;
        default:
            break;
        }
    }
    reportUnsent(command, unsent);
}

void Simulator::reportUnsent(const Command& command, const QList<int>& unsent) {
    // One line per command, not one per kiosk: a command for a thousand kiosks of which
    // few are connected must not bury the trace.
    if (unsent.isEmpty())
        return;
    if (unsent.size() == 1) {
        m_trace.event(unsent.front(),
                      QStringLiteral("not connected, not sent: %1").arg(command.source));
        return;
    }
    m_trace.message(QStringLiteral("not connected, not sent to %1 of %2 kiosks (first: %3): %4")
                        .arg(unsent.size())
                        .arg(command.last - command.first + 1)
                        .arg(unsent.front())
                        .arg(command.source));
}

bool Simulator::loadText(const QString& name, const QString& sample, const QString& baseDir,
                         QString* text) {
    const QString path = name.isEmpty() || name == QLatin1String("-")
                             ? sample
                             : QDir(baseDir).absoluteFilePath(name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_trace.message(QStringLiteral("error: pay: %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (!decodeUtf8(file.readAll(), text)) {
        m_trace.message(QStringLiteral("error: pay: %1 is not UTF-8 text").arg(path));
        return false;
    }
    return true;
}

void Simulator::pay(const Command& command) {
    const QStringList& args = command.args;
    const QString sum = args.value(0, SampleSum);
    QString order;
    QString invoice;
    if (!loadText(args.value(1), SampleOrder, command.baseDir, &order) ||
        !loadText(args.value(2), SampleInvoice, command.baseDir, &invoice))
        return;
    const QList<QByteArray> lines{"ORDER_SUM=" + sum.toUtf8(), "INVOICE=" + percentEscape(invoice),
                                  "ORDER_XML=" + percentEscape(order), "PAY_BLOCK"};
    QList<int> unsent;
    for (int n = command.first; n <= command.last; ++n) {
        SimKiosk* k = kiosk(n);
        if (!k->isConnected()) {
            unsent.append(n);
            continue;
        }
        for (const QByteArray& line : lines)
            k->sendLine(line);
    }
    reportUnsent(command, unsent);
}

void Simulator::status(const Command& command) {
    for (int n = command.first; n <= command.last; ++n) {
        const SimKiosk* k = kiosk(n);
        const QString link = k->isConnected()   ? QStringLiteral("connected")
                             : k->isListening() ? QStringLiteral("listening")
                                                : QStringLiteral("offline");
        m_trace.event(n, QStringLiteral("port %1, %2, %3%4, version \"%5\"")
                             .arg(k->port())
                             .arg(link)
                             .arg(QString::fromLatin1(SimKiosk::stateWord(k->workState())))
                             .arg(k->isSilent() ? QStringLiteral(", silent") : QString())
                             .arg(k->version()));
    }
}

void Simulator::shutdown() {
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    m_trace.message(QStringLiteral("quit"));
    for (SimKiosk* kiosk : m_kiosks)
        kiosk->drop();
    m_shutdownTicks = 0;
    m_shutdownTimer.start();
}

} // namespace kiosksim
