#include "platform/SerialPort.h"

#include "platform/DeviceIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace orvanta {

namespace {

QString dosDevicesLink(int number, const QString& dataFolder) {
    if (dataFolder.isEmpty())
        return {};
    return dataFolder + QStringLiteral("dosdevices/com") + QString::number(number);
}

bool linkExists(const QString& path) {
    const QFileInfo info(path);
    return info.isSymLink() || info.exists();
}

speed_t speedFor(int baudRate, bool* ok) {
    static const std::map<int, speed_t> speeds = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000},
    };
    const auto it = speeds.find(baudRate);
    *ok = it != speeds.end();
    return *ok ? it->second : B0;
}

} // namespace

QString serialPortDevice(int number, const QString& dataFolder) {
    const QString link = dosDevicesLink(number, dataFolder);
    if (!link.isEmpty() && linkExists(link))
        return link;
    if (number >= 1 && number <= 32)
        return QStringLiteral("/dev/ttyS%1").arg(number - 1);
    if (number >= 33 && number <= 64)
        return QStringLiteral("/dev/ttyUSB%1").arg(number - 33);
    if (number >= 65 && number <= 96)
        return QStringLiteral("/dev/ttyACM%1").arg(number - 65);
    return {};
}

QList<SerialPortInfo> availableSerialPorts(const QString& dataFolder) {
    // Only ports that lead somewhere: a link of the compatibility layer whose device is
    // gone is no choice to offer.
    std::map<int, QString> found;
    for (int n = 1; n <= 96; ++n) {
        const QString device = serialPortDevice(n, dataFolder);
        if (QFileInfo::exists(device))
            found[n] = device;
    }
    // Links of the compatibility layer may name ports beyond the fixed mapping.
    if (!dataFolder.isEmpty()) {
        static const QRegularExpression name(QStringLiteral("^com([1-9][0-9]{0,3})$"));
        const QDir dir(dataFolder + QStringLiteral("dosdevices"));
        for (const QFileInfo& entry :
             dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            const auto match = name.match(entry.fileName());
            if (match.hasMatch() && entry.exists())
                found[match.captured(1).toInt()] = entry.filePath();
        }
    }
    QList<SerialPortInfo> ports;
    for (const auto& [number, device] : found)
        ports.append({number, device});
    return ports;
}

SerialPort::~SerialPort() {
    close();
}

SerialPort::OpenResult SerialPort::open(const QString& device, int baudRate) {
    close();
    if (device.isEmpty())
        return OpenResult::CannotOpen;
    const QByteArray path = QFile::encodeName(device);
    // Non-blocking so that writes can be bounded in time, and so that opening does not
    // wait for a modem's carrier.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OpenResult::CannotOpen;
    m_fd = fd;

    auto fail = [this](OpenResult result) {
        close();
        return result;
    };

    // Not shared: a second program opening the printer's port gets EBUSY.
    if (::ioctl(m_fd, TIOCEXCL) != 0)
        return fail(OpenResult::CannotConfigure);
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        return fail(OpenResult::CannotConfigure);
    bool known = false;
    const speed_t speed = speedFor(baudRate, &known);
    if (!known)
        return fail(OpenResult::CannotConfigure);
    // Raw: the bytes of the stream reach the printer as they are (no CR added to LF, no
    // flow-control characters taken out). Hardware flow control stays as the port had it.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return fail(OpenResult::CannotConfigure);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return fail(OpenResult::CannotConfigure);
    // Clear a break a previous user may have left on the line. Devices without break
    // control (pseudo terminals) report success or ENOTTY; neither is a fault of the line.
    if (::ioctl(m_fd, TIOCCBRK) != 0 && errno != ENOTTY && errno != EINVAL)
        return fail(OpenResult::CannotConfigure);

    if (::tcflush(m_fd, TCIOFLUSH) != 0)
        return fail(OpenResult::CannotPurge);
    return OpenResult::Opened;
}

void SerialPort::close() {
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

void SerialPort::setWriteTimeouts(int multiplierMs, int constantMs) {
    m_writeMultiplierMs = multiplierMs;
    m_writeConstantMs = constantMs;
}

qsizetype SerialPort::write(QByteArrayView data) {
    if (m_fd < 0)
        return 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(
                                             m_writeMultiplierMs * data.size() + m_writeConstantMs);
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t n =
            ::write(m_fd, data.data() + written, static_cast<size_t>(data.size() - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{m_fd, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
    }
    return written;
}

qsizetype SerialPort::read(char* buffer, qsizetype max, int timeoutMs) {
    // In raw mode without VMIN and VTIME a read with nothing waiting returns 0 at once,
    // as EAGAIN would: neither is the end of the line.
    return readWithin(m_fd, buffer, max, timeoutMs);
}

void SerialPort::discardInput() {
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIFLUSH);
}

} // namespace orvanta
