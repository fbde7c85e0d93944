#include "printing/EscPosConnections.h"

#include "common/GlobConst.h"
#include "platform/DeviceIo.h"
#include "platform/Error.h"
#include "platform/Spooler.h"
#include "printing/PrintSettings.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using orvanta::Exception;

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// The name of the user the console runs as, for the command that lets them print.
QString userName() {
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return qEnvironmentVariable("USER", QStringLiteral("$USER"));
}

// The group that owns path, which the user must be in to open it; empty when unknown.
QString owningGroup(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {};
    std::vector<char> buffer(16384);
    group gr{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(st.st_gid);
}

} // namespace

QString escPosPrinterMessage(const QString& printerName, const QString& cause) {
    // A queue is named as one ("очередь CUPS «Чеки»"), so it leads the sentence itself.
    if (printerName.startsWith(QStringLiteral("очередь")))
        return printerName.at(0).toUpper() + printerName.mid(1) + QStringLiteral(": ") + cause;
    return QStringLiteral("Принтер ") + printerName + QStringLiteral(": ") + cause;
}

// ---- every output -------------------------------------------------------------------

QString EscPosOutput::writeFailure() const {
    return escPosPrinterMessage(displayName(),
                                QStringLiteral("принтер не принимает данные (время ожидания "
                                               "истекло)"));
}

std::optional<quint8> EscPosOutput::exchange(QByteArrayView request, int timeoutMs) {
    if (!bidirectional() || !isOpen())
        return std::nullopt;
    // An answer to an earlier query that came too late must not pass for this one.
    discardInput();
    if (write(request) < request.size())
        return std::nullopt;
    char byte = 0;
    if (read(&byte, 1, timeoutMs) != 1)
        return std::nullopt;
    return static_cast<quint8>(byte);
}

// ---- serial -------------------------------------------------------------------------

SerialEscPosOutput::SerialEscPosOutput(int comPort, const QString& device, int baudRate)
    : m_line(Line{comPort, device, baudRate}) {}

SerialEscPosOutput::Line SerialEscPosOutput::line() const {
    if (m_line)
        return *m_line;
    return {ComPort, orvanta::serialPortDevice(ComPort, DataFolder), ComRate};
}

void SerialEscPosOutput::open() {
    using Result = orvanta::SerialPort::OpenResult;
    const Line l = line();
    switch (m_port.open(l.device, l.baudRate)) {
    case Result::Opened:
        return;
    case Result::CannotOpen:
        throw Exception(QStringLiteral("ESCPOS.PortOpen: невозможно открыть COM порт"));
    case Result::CannotConfigure:
        throw Exception(QStringLiteral("ESCPOS.PortOpen: невозможно настроить COM порт"));
    case Result::CannotPurge:
        throw Exception(QStringLiteral("ESCPOS.PortOpen: невозможно очистить COM порт"));
    }
}

void SerialEscPosOutput::close() {
    m_port.close();
}

bool SerialEscPosOutput::isOpen() const {
    return m_port.isOpen();
}

qsizetype SerialEscPosOutput::write(QByteArrayView bytes) {
    return m_port.write(bytes);
}

QString SerialEscPosOutput::displayName() const {
    return QStringLiteral("COM") + QString::number(line().comPort);
}

QString SerialEscPosOutput::statusKey() const {
    const Line l = line();
    return QStringLiteral("serial %1 %2").arg(l.device).arg(l.baudRate);
}

QString SerialEscPosOutput::writeFailure() const {
    return QStringLiteral("ESCPOS.PrintOut: ошибка записи в COM порт");
}

void SerialEscPosOutput::discardInput() {
    m_port.discardInput();
}

qsizetype SerialEscPosOutput::read(char* buffer, qsizetype max, int timeoutMs) {
    return m_port.read(buffer, max, timeoutMs);
}

// ---- USB ----------------------------------------------------------------------------

UsbEscPosOutput::UsbEscPosOutput(QString device)
    : m_device(std::move(device)) {}

UsbEscPosOutput::~UsbEscPosOutput() {
    close();
}

QString UsbEscPosOutput::openFailure(const QString& device, int err) {
    const QString name = QStringLiteral("USB ") + device;
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return escPosPrinterMessage(
            name, QStringLiteral("нет такого устройства (принтер не подключён или выключен)"));
    case EACCES:
    case EPERM: {
        const QString user = userName();
        QString groupName = owningGroup(QFile::encodeName(device));
        if (groupName.isEmpty())
            groupName = QStringLiteral("lp");
        return escPosPrinterMessage(
            name, QStringLiteral("нет доступа к устройству. Пользователь «%1» должен входить в "
                                 "группу «%2», которой принадлежит устройство: выполните "
                                 "«sudo usermod -aG %2 %1» и войдите в систему заново")
                      .arg(user, groupName));
    }
    case EBUSY:
        return escPosPrinterMessage(name, QStringLiteral("устройство занято другой программой"));
    default:
        return escPosPrinterMessage(
            name, QStringLiteral("невозможно открыть устройство: %1").arg(errnoText(err)));
    }
}

void UsbEscPosOutput::open() {
    close();
    m_writeError = 0;
    if (m_device.isEmpty())
        throw Exception(escPosPrinterMessage(QStringLiteral("USB"),
                                             QStringLiteral("не указано устройство принтера")));
    const QByteArray path = QFile::encodeName(m_device);
    // Non-blocking, so that a printer that stopped taking bytes cannot hold the console:
    // every write and read below waits with a deadline.
    int fd = -1;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw Exception(openFailure(m_device, errno));
    m_fd = fd;
}

void UsbEscPosOutput::close() {
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

qsizetype UsbEscPosOutput::write(QByteArrayView bytes) {
    if (m_fd < 0)
        return 0;
    // The serial port's bound: 2 ms a byte and 50 ms more.
    const auto deadline = Clock::now() + std::chrono::milliseconds(2 * bytes.size() + 50);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(m_fd, bytes.data() + written, static_cast<size_t>(bytes.size() - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_writeError = errno;
            break;
        }
        const int left = msLeft(deadline);
        if (left <= 0)
            break;
        pollfd pfd{m_fd, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            m_writeError = ready < 0 ? errno : EIO;
            break;
        }
    }
    return written;
}

QString UsbEscPosOutput::displayName() const {
    return QStringLiteral("USB ") + m_device;
}

QString UsbEscPosOutput::writeFailure() const {
    if (m_writeError == 0)
        return EscPosOutput::writeFailure();
    if (m_writeError == ENODEV || m_writeError == EIO)
        return escPosPrinterMessage(displayName(),
                                    QStringLiteral("принтер отключён во время печати"));
    return escPosPrinterMessage(displayName(),
                                QStringLiteral("ошибка записи: %1").arg(errnoText(m_writeError)));
}

void UsbEscPosOutput::discardInput() {
    if (m_fd < 0)
        return;
    char buffer[256];
    while (::read(m_fd, buffer, sizeof buffer) > 0) {
    }
}

qsizetype UsbEscPosOutput::read(char* buffer, qsizetype max, int timeoutMs) {
    // usblp reports "nothing yet" as 0 as well as EAGAIN: readWithin waits in either case.
    return orvanta::readWithin(m_fd, buffer, max, timeoutMs);
}

// ---- network ------------------------------------------------------------------------

NetworkEscPosOutput::NetworkEscPosOutput(QString host, int port)
    : m_host(std::move(host))
    , m_port(port) {
    m_client.SetConnectTimeout(kConnectTimeoutMs);
}

void NetworkEscPosOutput::open() {
    m_client.Close();
    m_failure.clear();
    if (m_host.isEmpty())
        throw Exception(escPosPrinterMessage(QStringLiteral("в сети"),
                                             QStringLiteral("не указан адрес принтера")));
    m_client.SetHost(m_host);
    m_client.SetPort(m_port);
    // The system's send buffer grows to megabytes: a whole receipt would vanish into it at
    // once, the progress would say "sent" for paper that never came out, and "Отмена" could
    // no longer stop it. A few kilobytes keep the count close to what the printer took.
    m_client.SetSendBuffer(kSendBufferBytes);
    try {
        m_client.Open();
    } catch (const Exception& e) {
        using Error = orvanta::TcpClient::OpenError;
        QString cause;
        switch (m_client.LastOpenError()) {
        case Error::HostNotFound:
            cause = QStringLiteral("адрес «%1» не найден").arg(m_host);
            break;
        case Error::Refused:
            cause = QStringLiteral("соединение отклонено (на этом порту принтер не принимает "
                                   "подключений)");
            break;
        case Error::TimedOut:
            cause = QStringLiteral("нет ответа за %1 с (принтер выключен, не в сети или адрес "
                                   "неверен)")
                        .arg(kConnectTimeoutMs / 1000);
            break;
        case Error::None:
        case Error::Other:
            cause = QStringLiteral("невозможно подключиться: %1").arg(e.message());
            break;
        }
        throw Exception(escPosPrinterMessage(displayName(), cause));
    }
}

void NetworkEscPosOutput::close() {
    m_client.Close();
}

qsizetype NetworkEscPosOutput::write(QByteArrayView bytes) {
    if (!m_client.Active())
        return 0;
    // A network printer takes a receipt in bursts as its buffer empties; a second more
    // than the serial bound lets a busy one catch up without letting a dead one hang.
    const int bound = static_cast<int>(2 * bytes.size() + 1000);
    try {
        const int n = m_client.Write(bytes.data(), static_cast<int>(bytes.size()), bound);
        if (n < bytes.size())
            m_failure.clear();
        return n;
    } catch (const Exception& e) {
        m_failure = e.message();
        return 0;
    }
}

QString NetworkEscPosOutput::displayName() const {
    if (m_host.contains(QLatin1Char(':'))) // an IPv6 address keeps its port apart
        return QStringLiteral("[%1]:%2").arg(m_host).arg(m_port);
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

QString NetworkEscPosOutput::writeFailure() const {
    if (m_failure.isEmpty())
        return EscPosOutput::writeFailure();
    return escPosPrinterMessage(displayName(),
                                QStringLiteral("соединение разорвано (%1)").arg(m_failure));
}

void NetworkEscPosOutput::discardInput() {
    char buffer[256];
    try {
        while (m_client.Active() && m_client.Read(buffer, sizeof buffer, 0) > 0) {
        }
    } catch (const Exception&) {
        // A broken connection shows in the write that follows.
    }
}

qsizetype NetworkEscPosOutput::read(char* buffer, qsizetype max, int timeoutMs) {
    try {
        return m_client.Read(buffer, static_cast<int>(max), timeoutMs);
    } catch (const Exception&) {
        return 0;
    }
}

// ---- CUPS raw -----------------------------------------------------------------------

CupsRawEscPosOutput::CupsRawEscPosOutput(QString queue)
    : m_queue(std::move(queue)) {}

namespace {

// The cause when the queue cannot take a job; empty when it can.
QString queueProblem(const QString& queue) {
    switch (orvanta::QueueStatus(queue)) {
    case orvanta::QueueState::Accepting:
        return {};
    case orvanta::QueueState::NotAccepting:
        return QStringLiteral("очередь не принимает задания");
    case orvanta::QueueState::Missing:
        return QStringLiteral("такой очереди нет");
    case orvanta::QueueState::NoService:
        return QStringLiteral("служба печати CUPS не отвечает");
    }
    return {};
}

} // namespace

// The queue is asked at the start, so that a receipt is not composed for nothing.
void CupsRawEscPosOutput::open() {
    m_data.clear();
    m_open = false;
    if (m_queue.isEmpty())
        throw Exception(escPosPrinterMessage(QStringLiteral("очередь CUPS"),
                                             QStringLiteral("очередь не указана")));
    if (const QString problem = queueProblem(m_queue); !problem.isEmpty())
        throw Exception(escPosPrinterMessage(displayName(), problem));
    m_open = true;
}

void CupsRawEscPosOutput::close() {
    if (!m_open)
        return;
    m_open = false;
    const QByteArray data = std::exchange(m_data, {});
    if (data.isEmpty())
        return;
    const QString title = m_title.isEmpty() ? QStringLiteral("Чек") : m_title;
    try {
        orvanta::SubmitJob(m_queue, title,
                           {orvanta::SpoolDocument{orvanta::kSpoolRawFormat, data}});
    } catch (const Exception& e) {
        // The spooler's own words name the queue its way; what the operator can act on is
        // the state of the queue, when that is the cause.
        const QString problem = queueProblem(m_queue);
        throw Exception(
            escPosPrinterMessage(displayName(), problem.isEmpty() ? e.message() : problem));
    }
}

qsizetype CupsRawEscPosOutput::write(QByteArrayView bytes) {
    if (!m_open)
        return 0;
    m_data.append(bytes);
    return bytes.size();
}

QString CupsRawEscPosOutput::displayName() const {
    return QStringLiteral("очередь CUPS «%1»").arg(m_queue);
}

// ---- memory -------------------------------------------------------------------------

qsizetype MemoryEscPosOutput::write(QByteArrayView bytes) {
    m_data.append(bytes);
    return bytes.size();
}

QString MemoryEscPosOutput::displayName() const {
    return QStringLiteral("экран");
}
