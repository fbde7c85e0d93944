#include "SessionBusSupport.h"

#include "TestUtil.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(2000)) {
        p.kill();
        p.waitForFinished(2000);
    }
}

// dbus-monitor prints one message as a header line and its arguments indented by three
// blanks (nested values deeper). A string keeps its line breaks, so arguments are
// found by their indented type word, not by lines.
QStringList topLevelArgs(const QString& block) {
    static const QRegularExpression argStart(QStringLiteral("\n   (?=[a-z])"));
    QStringList parts = block.split(argStart);
    parts.removeFirst(); // the header
    return parts;
}

QString stringArg(const QString& arg) {
    const qsizetype first = arg.indexOf(u'"');
    const qsizetype last = arg.lastIndexOf(u'"');
    return first < 0 || last <= first ? QString() : arg.mid(first + 1, last - first - 1);
}

quint32 uintArg(const QString& arg) {
    return arg.section(u' ', 1, 1).trimmed().toUInt();
}

} // namespace

TestSessionBus::~TestSessionBus() {
    stop(m_monitor);
    stop(m_dunst);
    stop(m_xvfb);
    stop(m_daemon);
}

bool TestSessionBus::Start(QString* why) {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    const QString monitor = QStandardPaths::findExecutable(QStringLiteral("dbus-monitor"));
    if (daemon.isEmpty() || monitor.isEmpty()) {
        *why = QStringLiteral("dbus-daemon or dbus-monitor is not installed (package dbus)");
        return false;
    }
    m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--print-address"),
                            QStringLiteral("--nofork")});
    if (!testutil::waitUntil([this] { return m_daemon.canReadLine(); }, 10000)) {
        *why = QStringLiteral("dbus-daemon gave no address: ") +
               QString::fromLocal8Bit(m_daemon.readAllStandardError());
        return false;
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();

    m_monitor.start(
        monitor, {QStringLiteral("--address"), m_address,
                  QStringLiteral("type='method_call',interface='org.freedesktop.Notifications'")});
    // The monitor announces itself with the name it gets and gives up at once; from
    // then on it sees every call.
    if (!testutil::waitUntil(
            [this] {
                readMonitor();
                return m_monitorText.contains("member=NameLost");
            },
            10000)) {
        *why = QStringLiteral("dbus-monitor did not attach to the test bus: ") +
               QString::fromLocal8Bit(m_monitor.readAllStandardError());
        return false;
    }
    return true;
}

bool TestSessionBus::StartNotificationService(QString* why) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString dunst = QStandardPaths::findExecutable(QStringLiteral("dunst"));
    if (xvfb.isEmpty() || dunst.isEmpty()) {
        *why = QStringLiteral("Xvfb or dunst is not installed (packages xvfb, dunst)");
        return false;
    }
    m_xvfb.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("800x600x24")});
    if (!testutil::waitUntil([this] { return m_xvfb.canReadLine(); }, 10000)) {
        *why = QStringLiteral("Xvfb did not start: ") +
               QString::fromLocal8Bit(m_xvfb.readAllStandardError());
        return false;
    }
    const QString display = QStringLiteral(":") + QString::fromUtf8(m_xvfb.readLine()).trimmed();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_dunst.setProcessEnvironment(env);
    m_dunst.setProcessChannelMode(QProcess::MergedChannels);
    m_dunst.start(dunst, {});

    QDBusConnection probe = Connect(QStringLiteral("probe"));
    const bool owned = testutil::waitUntil(
        [&] {
            return m_dunst.state() != QProcess::NotRunning &&
                   probe.interface()->isServiceRegistered(
                       QStringLiteral("org.freedesktop.Notifications"));
        },
        10000);
    QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
    if (!owned) {
        *why = QStringLiteral("dunst did not take org.freedesktop.Notifications: ") +
               QString::fromLocal8Bit(m_dunst.readAll());
        return false;
    }
    return true;
}

QDBusConnection TestSessionBus::Connect(const QString& name) const {
    return QDBusConnection::connectToBus(m_address, name);
}

void TestSessionBus::readMonitor() {
    m_monitorText += m_monitor.readAllStandardOutput();
}

bool TestSessionBus::Sync() {
    QDBusConnection bus = Connect(QStringLiteral("sync"));
    // Any call to the service's interface passes the monitor's filter; this one changes
    // nothing and needs no answer.
    QDBusMessage marker = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("GetServerInformation"));
    marker.setAutoStartService(false);
    bus.send(marker);
    const int expected = ++m_syncs;
    const bool seen = testutil::waitUntil([&] {
        readMonitor();
        return m_monitorText.count("member=GetServerInformation") >= expected;
    });
    QDBusConnection::disconnectFromBus(QStringLiteral("sync"));
    return seen;
}

QList<TestSessionBus::NotifyCall> TestSessionBus::Notifications() {
    readMonitor();
    QList<NotifyCall> calls;
    static const QRegularExpression messageStart(QStringLiteral("\n(?=[a-z])"));
    static const QRegularExpression urgency(
        QStringLiteral("string \"urgency\"\\s+variant\\s+byte (\\d+)"));
    const QStringList blocks = QString::fromUtf8(m_monitorText).split(messageStart);
    for (const QString& block : blocks) {
        if (!block.startsWith(QStringLiteral("method call")) ||
            !block.section(u'\n', 0, 0).contains(QStringLiteral("member=Notify")))
            continue;
        const QStringList args = topLevelArgs(block);
        if (args.size() < 8)
            continue;
        NotifyCall call;
        call.appName = stringArg(args[0]);
        call.replacesId = uintArg(args[1]);
        call.summary = stringArg(args[3]);
        call.body = stringArg(args[4]);
        const QRegularExpressionMatch m = urgency.match(args[6]);
        if (m.hasMatch())
            call.urgency = m.captured(1).toInt();
        calls << call;
    }
    return calls;
}

QList<quint32> TestSessionBus::CloseCalls() {
    readMonitor();
    QList<quint32> ids;
    static const QRegularExpression messageStart(QStringLiteral("\n(?=[a-z])"));
    const QStringList blocks = QString::fromUtf8(m_monitorText).split(messageStart);
    for (const QString& block : blocks) {
        if (!block.startsWith(QStringLiteral("method call")) ||
            !block.section(u'\n', 0, 0).contains(QStringLiteral("member=CloseNotification")))
            continue;
        const QStringList args = topLevelArgs(block);
        if (!args.isEmpty())
            ids << uintArg(args[0]);
    }
    return ids;
}

int TestSessionBus::Displayed() const {
    QProcess ctl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    ctl.setProcessEnvironment(env);
    ctl.start(QStringLiteral("dunstctl"), {QStringLiteral("count"), QStringLiteral("displayed")});
    if (!ctl.waitForFinished(5000) || ctl.exitCode() != 0)
        return -1;
    bool ok = false;
    const int n = QString::fromUtf8(ctl.readAllStandardOutput()).trimmed().toInt(&ok);
    return ok ? n : -1;
}
