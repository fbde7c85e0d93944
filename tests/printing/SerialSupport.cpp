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

QStringList nposDecode(const QByteArray& stream, const QString& dir, QString* why) {
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString npm = QStandardPaths::findExecutable(QStringLiteral("npm"));
    if (node.isEmpty() || npm.isEmpty()) {
        *why = QStringLiteral("node or npm is not installed: no independent ESC/POS decoder");
        return {};
    }
    const QString work = testutil::binaryPath(QStringLiteral("tests/printing/npos"));
    QDir().mkpath(work);
    for (const char* name : {"package.json", "package-lock.json", "decode.js"}) {
        const QString from = testutil::sourcePath(QStringLiteral("tests/printing/npos/") + name);
        const QString to = work + QLatin1Char('/') + name;
        if (testutil::readFile(from) != testutil::readFile(to)) {
            QFile::remove(to);
            QFile::copy(from, to);
            QFile::remove(work + QStringLiteral("/node_modules/.package-lock.json"));
        }
    }
    if (!QFile::exists(work + QStringLiteral("/node_modules/.package-lock.json"))) {
        QProcess install;
        install.setWorkingDirectory(work);
        install.start(npm,
                      {"ci", "--ignore-scripts", "--omit=optional", "--no-audit", "--no-fund"});
        if (!install.waitForFinished(240000) || install.exitCode() != 0) {
            *why = QStringLiteral("npm ci failed: ") +
                   QString::fromLocal8Bit(install.readAllStandardError());
            return {};
        }
    }
    const QString file = dir + QStringLiteral("/stream.bin");
    testutil::writeFile(file, stream);
    QProcess run;
    run.start(node, {work + QStringLiteral("/decode.js"), file});
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
