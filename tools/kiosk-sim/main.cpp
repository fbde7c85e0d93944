// kiosk-sim: plays the kiosk side of the kiosk line protocol on loopback, for one kiosk or
// a thousand, so that the console can be tested, shown and set up without kiosks.
#include "Command.h"
#include "CommandRunner.h"
#include "Escaping.h"
#include "Simulator.h"
#include "StdinReader.h"
#include "Trace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

using namespace kiosksim;

namespace {

constexpr int MaxKiosks = 10000;

void fail(const QString& text) {
    std::fprintf(stderr, "kiosk-sim: %s\n", qPrintable(text));
}

// Every kiosk needs a listening socket and a connection; the usual soft limit of 1024
// descriptors would stop a simulator of a thousand kiosks halfway.
void raiseDescriptorLimit(int kiosks) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = rlim_t(kiosks) * 2 + 64;
    if (limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : qMin(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < wanted)
        fail(QStringLiteral("warning: only %1 file descriptors for %2 kiosks")
                 .arg(qulonglong(limit.rlim_cur))
                 .arg(kiosks));
}

bool loadScript(const QString& fileName, int kioskCount, QList<Command>* commands) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
        return false;
    }
    QString text;
    if (!decodeUtf8(file.readAll(), &text)) {
        fail(QStringLiteral("%1: not UTF-8 text").arg(fileName));
        return false;
    }
    const QString baseDir = QFileInfo(fileName).absolutePath();
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool ok = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        Command command;
        QString error;
        switch (parseCommand(line, kioskCount, baseDir, &command, &error)) {
        case ParseResult::Command:
            commands->append(command);
            break;
        case ParseResult::Error:
            fail(QStringLiteral("%1:%2: %3").arg(fileName).arg(i + 1).arg(error));
            ok = false;
            break;
        case ParseResult::Empty:
            break;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    // A console that vanishes must not kill the simulator through SIGPIPE, and a
    // simulator started in the background of a terminal must not stop on reading it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kiosk-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates kiosks of the kiosk line protocol: kiosk N listens on PORT+N-1 and\n"
        "answers the console; commands on standard input or in a script play the customer.\n"
        "Every line received and sent is printed with a timestamp and the kiosk number."));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Shows this help and the commands."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port of kiosk 1 (default 5000; 0: the "
                                                       "system chooses a port for each kiosk)."),
                                        QStringLiteral("PORT"), QStringLiteral("5000"));
    const QCommandLineOption countOption(QStringLiteral("count"),
                                         QStringLiteral("Number of kiosks (default 1)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption versionOption(
        QStringLiteral("version"),
        QStringLiteral("Text answered to GET_VERSION (default \"Kiosk 14.2.0.7\")."),
        QStringLiteral("TEXT"), QStringLiteral("Kiosk 14.2.0.7"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption scriptOption(
        QStringLiteral("script"),
        QStringLiteral("Runs the commands of FILE, alongside standard input."),
        QStringLiteral("FILE"));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Writes the output to FILE as well."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption quietOption(
        QStringLiteral("quiet"),
        QStringLiteral("Leaves out the lines received and sent (connections, errors and "
                       "echo still show)."));
    const QCommandLineOption sampleOption(
        QStringLiteral("sample"),
        QStringLiteral("Prints the shipped sample (order or invoice) and ends; a start for "
                       "an order of one's own."),
        QStringLiteral("NAME"));
    parser.addOptions({helpOption, portOption, countOption, versionOption, addressOption,
                       scriptOption, logOption, quietOption, sampleOption});
    if (!parser.parse(QCoreApplication::arguments())) {
        fail(parser.errorText());
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText() + QLatin1Char('\n') + commandHelp()), stdout);
        return 0;
    }
    if (parser.isSet(sampleOption)) {
        const QString name = parser.value(sampleOption);
        QFile sample(name == QLatin1String("order")     ? QStringLiteral(":/samples/order.xml")
                     : name == QLatin1String("invoice") ? QStringLiteral(":/samples/invoice.txt")
                                                        : QString());
        if (!sample.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("--sample takes order or invoice"));
            return 2;
        }
        const QByteArray bytes = sample.readAll();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        return 2;
    }

    Simulator::Options options;
    bool ok = false;
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port < 0 || port > 65535) {
        fail(QStringLiteral("--port needs a port number"));
        return 2;
    }
    options.count = parser.value(countOption).toInt(&ok);
    if (!ok || options.count < 1 || options.count > MaxKiosks ||
        (port != 0 && port + options.count - 1 > 65535)) {
        fail(QStringLiteral("--count needs 1 to %1 kiosks whose ports end at 65535 at most")
                 .arg(MaxKiosks));
        return 2;
    }
    options.port = quint16(port);
    options.version = parser.value(versionOption);
    if (!options.address.setAddress(parser.value(addressOption))) {
        fail(QStringLiteral("--address needs an IP address"));
        return 2;
    }

    QList<Command> script;
    if (parser.isSet(scriptOption) &&
        !loadScript(parser.value(scriptOption), options.count, &script))
        return 2;

    Trace trace;
    trace.setQuiet(parser.isSet(quietOption));
    if (parser.isSet(logOption)) {
        QString error;
        if (!trace.openLog(parser.value(logOption), &error)) {
            fail(QStringLiteral("%1: %2").arg(parser.value(logOption), error));
            return 2;
        }
    }

    raiseDescriptorLimit(options.count);
    Simulator simulator(options, trace);
    QString error;
    if (!simulator.start(&error)) {
        fail(error);
        return 1;
    }

    CommandRunner scriptRunner(simulator, trace);
    for (const Command& command : script)
        scriptRunner.append(command);

    CommandRunner inputRunner(simulator, trace);
    StdinReader input;
    QObject::connect(
        &input, &StdinReader::lineRead, &inputRunner,
        [&inputRunner](const QString& line) { inputRunner.appendLine(line, QString()); });

    return app.exec();
}
