#include "SerialSupport.h"
#include "TestUtil.h"
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace testutil {

namespace {

long long nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SocatPair::~SocatPair() {
    stop();
}

bool SocatPair::available() {
    return !QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty();
}

// With -d -d socat reports the terminals it made; kept in the process's channel and
// shown only when the pair does not come up.
bool SocatPair::start(const QString& dir) {
    m_a = dir + QStringLiteral("/a");
    m_b = dir + QStringLiteral("/b");
    m_socat.setProgram(QStringLiteral("socat"));
    m_socat.setArguments({QStringLiteral("-d"), QStringLiteral("-d"),
                          QStringLiteral("pty,raw,echo=0,link=") + m_a,
                          QStringLiteral("pty,raw,echo=0,link=") + m_b});
    m_socat.setProcessChannelMode(QProcess::MergedChannels);
    m_socat.start();
    if (!m_socat.waitForStarted(5000))
        return false;
    // socat makes the links once both terminals exist.
    for (int i = 0; i < 500; ++i) {
        if (QFileInfo::exists(m_a) && QFileInfo::exists(m_b))
            return true;
        if (m_socat.state() != QProcess::Running) {
            qWarning("socat: %s", m_socat.readAll().constData());
            return false;
        }
        QThread::msleep(10);
    }
    return false;
}

void SocatPair::stop() {
    if (m_socat.state() == QProcess::NotRunning)
        return;
    m_socat.terminate();
    if (!m_socat.waitForFinished(3000)) {
        m_socat.kill();
        m_socat.waitForFinished(3000);
    }
}

SerialCapture::~SerialCapture() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SerialCapture::start(const QString& device) {
    m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    m_lastByteMs = nowMs();
    m_thread = std::thread([this] { run(); });
    return true;
}

void SerialCapture::run() {
    char buffer[4096];
    while (!m_stop) {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard lock(m_mutex);
            m_data.append(buffer, n);
            m_lastByteMs = nowMs();
        } else if (n == 0 || (pfd.revents & (POLLHUP | POLLERR))) {
            QThread::msleep(20);
        }
    }
}

QByteArray SerialCapture::finish(int quietMs, int maxMs) {
    const long long start = nowMs();
    while (nowMs() - m_lastByteMs < quietMs && nowMs() - start < maxMs)
        QThread::msleep(20);
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    return m_data;
}

namespace {

QString nposFolder() {
    return testutil::sourcePath(QStringLiteral("tests/printing/npos"));
}

} // namespace

bool nposDecoderInstalled(QString* why) {
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()) {
        *why = QStringLiteral("Node.js is not installed: no independent ESC/POS decoder "
                              "(scripts/install-deps installs it)");
        return false;
    }
    if (!QFile::exists(nposFolder() + QStringLiteral("/node_modules/npos/package.json"))) {
        *why = QStringLiteral("the ESC/POS decoder is not installed in tests/printing/npos "
                              "(scripts/install-deps installs it from the npm registry)");
        return false;
    }
    return true;
}

QStringList nposDecode(const QByteArray& stream, const QString& dir, QString* why) {
    if (!nposDecoderInstalled(why))
        return {};
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString file = dir + QStringLiteral("/stream.bin");
    testutil::writeFile(file, stream);
    QProcess run;
    run.start(node, {nposFolder() + QStringLiteral("/decode.js"), file});
    if (!run.waitForFinished(60000) || run.exitCode() != 0) {
        *why =
            QStringLiteral("decoder failed: ") + QString::fromLocal8Bit(run.readAllStandardError());
        return {};
    }
    QStringList decoded;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.readAllStandardOutput()).array())
        decoded << v.toString();
    return decoded;
}

} // namespace testutil
