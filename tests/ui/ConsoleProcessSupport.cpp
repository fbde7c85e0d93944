#include "ConsoleProcessSupport.h"

#include "KioskSimSupport.h"
#include "TestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>

#include <sys/types.h>

#include <csignal>

ConsoleProcess::~ConsoleProcess() {
    // A test that failed half-way leaves no console behind.
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString ConsoleProcess::DataFolder() const {
    return m_dir.filePath(QStringLiteral("Selvane"));
}

bool ConsoleProcess::Start(const std::vector<int>& ports) {
    const QString program = testutil::binaryPath(QStringLiteral("src/main/orvanta-console"));
    if (!QFile::exists(program)) {
        m_error = QStringLiteral("no program at ") + program;
        return false;
    }
    if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath(QStringLiteral("Selvane"))) {
        m_error = QStringLiteral("no data folder");
        return false;
    }
    QByteArray ini = "[DeviceList]\nCount=" + QByteArray::number(int(ports.size())) + "\n";
    for (size_t i = 0; i < ports.size(); ++i)
        ini += "[DeviceList" + QByteArray::number(int(i)) + "]\nEnabled=1\nName=Киоск " +
               QByteArray::number(int(i) + 1) +
               "\nAddress=127.0.0.1\nPort=" + QByteArray::number(ports[i]) + "\n";
    testutil::writeFile(DataFolder() + QStringLiteral("/orvanta-console.ini"), ini);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANTA_APPDATA"), m_dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, {});
    if (!m_process.waitForStarted()) {
        m_error = QStringLiteral("the program did not start: ") + m_process.errorString();
        return false;
    }
    return true;
}

bool ConsoleProcess::OpenOrderWindows(KioskSim& sim, const QList<int>& sums) {
    const auto count = sums.size();
    // Connected, and the work-state question answered: a payment now opens a window.
    const QRegularExpression workState(QStringLiteral("recv GET_WORK_STATE"));
    const QRegularExpression keepAlive(QStringLiteral("\\[(\\d+)\\] recv KEEP_ALIVE"));
    if (!testutil::waitUntil([&] { return sim.output().count(workState) >= count; }, 10000)) {
        m_error = sim.output();
        return false;
    }
    for (qsizetype i = 0; i < count; ++i) {
        sim.command(QStringLiteral("%1 start").arg(i + 1));
        sim.command(QStringLiteral("%1 pay %2").arg(i + 1).arg(sums[i]));
    }
    // An open window keeps its kiosk's quiet line alive once a second.
    if (!testutil::waitUntil(
            [&] {
                QSet<QString> kiosks;
                for (auto it = keepAlive.globalMatch(sim.output()); it.hasNext();)
                    kiosks.insert(it.next().captured(1));
                return kiosks.size() == count;
            },
            10000)) {
        m_error = sim.output();
        return false;
    }
    return true;
}

bool ConsoleProcess::SignalAndWait(int signal, int ms, qint64* tookMs) {
    QElapsedTimer clock;
    clock.start();
    if (::kill(static_cast<pid_t>(m_process.processId()), signal) != 0) {
        m_error = QStringLiteral("the signal was not sent");
        return false;
    }
    const bool ended = m_process.waitForFinished(ms);
    if (tookMs)
        *tookMs = clock.elapsed();
    return ended;
}
