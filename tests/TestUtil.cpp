#include "TestUtil.h"

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <ctime>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

void PrintTo(const QString& value, std::ostream* os) {
    *os << '"' << value.toStdString() << '"';
}

void PrintTo(const QStringList& value, std::ostream* os) {
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace testutil {

bool waitUntil(const std::function<bool()>& pred, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        orvanta::MainThreadDispatcher::instance().drain();
        if (pred())
            return true;
        if (timer.elapsed() > ms)
            return false;
        orvanta::MainThreadDispatcher::instance().waitAndDrain(5);
    }
}

void pump(int ms) {
    waitUntil([] { return false; }, ms);
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
    : m_hadZone(qEnvironmentVariableIsSet("TZ"))
    , m_zone(qgetenv("TZ")) {
    qputenv("TZ", zone);
    ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (m_hadZone)
        qputenv("TZ", m_zone);
    else
        qunsetenv("TZ");
    ::tzset();
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

QString binaryPath(const QString& relative) {
    return qEnvironmentVariable("ORVANTA_BINARY_DIR") + QLatin1Char('/') + relative;
}

QString sourcePath(const QString& relative) {
    return qEnvironmentVariable("ORVANTA_SOURCE_DIR") + QLatin1Char('/') + relative;
}

::testing::AssertionResult inOrder(const QString& text, const QStringList& pieces) {
    qsizetype from = 0;
    for (const QString& piece : pieces) {
        const qsizetype at = text.indexOf(piece, from);
        if (at < 0)
            return ::testing::AssertionFailure()
                   << "\"" << piece.toStdString() << "\" missing after offset " << from << " in:\n"
                   << text.toStdString();
        from = at + piece.size();
    }
    return ::testing::AssertionSuccess();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

} // namespace testutil
