#include "KioskSimSupport.h"

#include "TestUtil.h"

#include <QRegularExpression>

bool KioskSim::start(int count, const QStringList& extraArgs)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args = {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--count"),
                        QString::number(count)};
    args += extraArgs;
    m_process.start(testutil::binaryPath(QStringLiteral("tools/kiosk-sim/kiosk-sim")), args);
    if (!m_process.waitForStarted(5000))
        return false;
    if (!waitForOutput(QStringLiteral("ready:"), 10000))
        return false;
    static const QRegularExpression listening(QStringLiteral(R"(\[(\d+)\] listening on [^:]+:(\d+))"));
    m_ports.assign(static_cast<std::size_t>(count), 0);
    auto it = listening.globalMatch(m_output);
    while (it.hasNext()) {
        const auto m = it.next();
        const int kiosk = m.captured(1).toInt();
        if (kiosk >= 1 && kiosk <= count)
            m_ports[static_cast<std::size_t>(kiosk - 1)] = m.captured(2).toInt();
    }
    for (int port : m_ports)
        if (port == 0)
            return false;
    return true;
}

KioskSim::~KioskSim()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("quit\n");
        if (!m_process.waitForFinished(2000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
}

void KioskSim::command(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
}

QString KioskSim::output()
{
    m_output += QString::fromUtf8(m_process.readAll());
    return m_output;
}

bool KioskSim::waitForOutput(const QString& text, int ms)
{
    return testutil::waitUntil([&] { return output().contains(text); }, ms);
}
