#include "printing/EscPosConnections.h"

#include "CupsSupport.h"
#include "PrintSettingsSupport.h"
#include "SerialSupport.h"
#include "TestUtil.h"
#include "platform/Error.h"
#include "platform/Spooler.h"
#include "printing/EscPosPrinter.h"
#include "printing/EscPosRoute.h"
#include "printing/PrinterStatus.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const orvanta::Exception& e) {
        return e.message();
    }
    return QStringLiteral("(nothing raised)");
}

// A socket listening on 127.0.0.1 at a port the system chooses, which goes to port;
// -1 when there is none. The far ends of network printers listen here.
int listenOnLoopback(int backlog, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// Status bytes as a printer sends them: bits 1 and 4 always on.
constexpr quint8 kOk = 0x12;
using Answers = std::array<quint8, 3>; // to DLE EOT 1, 2, 4

// The far end of a printer: takes what arrives on a pseudo terminal's master side or on
// accepted TCP connections, answers DLE EOT 1, 2 and 4 as told (or never), keeps the
// rest as the receipt and may drop the connection after so many bytes of it.
class AnsweringPrinter {
public:
    explicit AnsweringPrinter(std::optional<Answers> answers, qint64 closeAfter = -1)
        : m_answers(answers)
        , m_closeAfter(closeAfter) {}
    ~AnsweringPrinter() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
        if (m_master >= 0)
            ::close(m_master);
    }

    bool listen() {
        m_listen = listenOnLoopback(4, m_port);
        if (m_listen < 0)
            return false;
        m_thread = std::thread([this] { acceptLoop(); });
        return true;
    }

    // A pseudo terminal in raw mode, as a usblp device file passes bytes unchanged.
    bool openPty() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        m_ptyPath = QString::fromLocal8Bit(::ptsname(m_master));
        termios tio{};
        if (::tcgetattr(m_master, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        if (::tcsetattr(m_master, TCSANOW, &tio) != 0)
            return false;
        m_thread = std::thread([this] { serve(m_master, true); });
        return true;
    }

    // The far end of a serial line pair.
    bool attach(const QString& device) {
        m_master = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        if (::tcsetattr(m_master, TCSANOW, &tio) != 0)
            return false;
        m_thread = std::thread([this] { serve(m_master, true); });
        return true;
    }

    int port() const { return m_port; }
    const QString& ptyPath() const { return m_ptyPath; }
    QByteArray received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    int queries() const { return m_queries.load(); }
    int connectionsEnded() const { return m_ended.load(); }

private:
    void acceptLoop() {
        while (!m_stop) {
            pollfd pfd{m_listen, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            serve(fd, false);
            ::close(fd);
            ++m_ended;
        }
    }

    void serve(int fd, bool pty) {
        QByteArray raw;
        qint64 taken = 0;
        while (!m_stop) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                if (!pty)
                    return; // the console closed its end
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // no slave open
                continue;
            }
            raw.append(buffer, n);
            qsizetype i = 0;
            QByteArray data;
            for (; i < raw.size(); ++i) {
                if (raw[i] == 0x10) {
                    if (i + 2 >= raw.size())
                        break; // the rest of a query is still on its way
                    if (raw[i + 1] == 0x04) {
                        ++m_queries;
                        const int which = raw[i + 2] == 1 ? 0 : raw[i + 2] == 2 ? 1 : 2;
                        if (m_answers) {
                            const char answer = static_cast<char>((*m_answers)[which]);
                            [[maybe_unused]] auto w = ::write(fd, &answer, 1);
                        }
                        i += 2;
                        continue;
                    }
                }
                data += raw[i];
            }
            raw.remove(0, i);
            {
                std::lock_guard lock(m_mutex);
                m_received += data;
            }
            taken += data.size();
            if (m_closeAfter >= 0 && taken >= m_closeAfter)
                return;
        }
    }

    std::optional<Answers> m_answers;
    qint64 m_closeAfter;
    int m_listen = -1;
    int m_master = -1;
    int m_port = 0;
    QString m_ptyPath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_queries{0};
    std::atomic<int> m_ended{0};
    mutable std::mutex m_mutex;
    QByteArray m_received;
};

// A receipt with every kind of line, a barcode of the order and one of the total.
void printReceipt(TInvoicePrinter& p, const QString& order = QStringLiteral("42")) {
    BarCodeOrder = true;
    BarCodePrice = true;
    p.OpenCheck(ctSale, QStringLiteral("Чек ") + order, QStringLiteral("Кафе «Уют»\r\n"), order,
                TKioskInfo{1, "", "", "Киоск №1", "2 этаж"},
                TOrganizationInfo{"ООО «Ромашка»", "ул. Мира, 1", "7700000000", "", false}, 0);
    p.Sale(QStringLiteral("Капучино"), 1, 2, 150, 0, 0, 0, 0);
    p.Discount(QString(), 50);
    p.CloseCheck(order, QStringLiteral("Спасибо!"), 250, 300, 0, 50, QString());
}

QByteArray receiptInMemory(const QString& order = QStringLiteral("42")) {
    auto out = std::make_unique<MemoryEscPosOutput>();
    MemoryEscPosOutput* memory = out.get();
    TESCPOSPrinter printer(std::move(out));
    printReceipt(printer, order);
    return memory->data();
}

EscPosRoute networkRoute(int port, bool askStatus = true) {
    EscPosRoute r;
    r.connection = ecNetwork;
    r.host = QStringLiteral("127.0.0.1");
    r.port = port;
    r.askStatus = askStatus;
    return r;
}

class EscPosConnectionTest : public ::testing::Test {
protected:
    testutil::SavedPrintSettings saved;
};

// ---- network ------------------------------------------------------------------------

TEST_F(EscPosConnectionTest, NetworkPrinterStatesAroundAReceipt) {
    EscPosStatus = true;
    const QByteArray expected = receiptInMemory();
    const struct {
        const char* name;
        Answers answers;
        QString refusal; // empty: the receipt prints
        QString warning;
    } cases[] = {
        {"healthy", {kOk, kOk, kOk}, "", ""},
        {"paper end", {kOk | 0x08, kOk | 0x20, kOk | 0x60}, "нет бумаги", ""},
        {"paper end seen by the roll sensor alone", {kOk, kOk, kOk | 0x60}, "нет бумаги", ""},
        {"cover open", {kOk | 0x08, kOk | 0x04, kOk}, "открыта крышка", ""},
        {"offline", {kOk | 0x08, kOk, kOk}, "не в сети", ""},
        {"paper near end", {kOk, kOk, kOk | 0x0C}, "", "бумага заканчивается"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AnsweringPrinter far(c.answers);
        ASSERT_TRUE(far.listen());
        const QString name = QStringLiteral("127.0.0.1:%1").arg(far.port());
        TESCPOSPrinter printer(networkRoute(far.port()));
        const QString error = errorOf([&] { printReceipt(printer); });
        if (!c.refusal.isEmpty()) {
            EXPECT_EQ(error, "Принтер " + name + ": " + c.refusal);
            EXPECT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == 1; }));
            EXPECT_EQ(far.received(), QByteArray()) << "nothing of the receipt may arrive";
            EXPECT_EQ(far.queries(), 3);
            EXPECT_FALSE(printer.Recover(0, 0, 0, QString()));
            continue;
        }
        EXPECT_EQ(error, "(nothing raised)");
        ASSERT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == 1; }));
        EXPECT_EQ(hex(far.received()), hex(expected));
        EXPECT_EQ(far.queries(), 6); // three when it starts, three when it ends
        const QStringList warnings =
            c.warning.isEmpty() ? QStringList() : QStringList{"Принтер " + name + ": " + c.warning};
        EXPECT_EQ(printer.Warnings(), warnings);
        EXPECT_EQ(printer.PaperLow(), !c.warning.isEmpty());
    }
}

TEST_F(EscPosConnectionTest, APrinterThatNeverAnswersIsPrintedToAndThenNoLongerAsked) {
    EscPosStatus = true;
    AnsweringPrinter far(std::nullopt);
    ASSERT_TRUE(far.listen());
    const EscPosRoute route = networkRoute(far.port());
    const QByteArray expected = receiptInMemory();
    for (int receipt = 1; receipt <= 3; ++receipt) {
        SCOPED_TRACE(receipt);
        TESCPOSPrinter printer(route);
        EXPECT_EQ(errorOf([&] { printReceipt(printer); }), "(nothing raised)");
        ASSERT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == receipt; }));
        EXPECT_EQ(printer.Status().words(), QStringLiteral("состояние неизвестно"));
        EXPECT_TRUE(printer.Recover(0, 0, 0, QString()));
    }
    EXPECT_EQ(hex(far.received()), hex(expected + expected + expected));
    // One unanswered DLE EOT 1 at the start and one at the end of the first receipt.
    EXPECT_EQ(far.queries(), 2);
    EXPECT_TRUE(escPosStatusGivenUp(route.key()));
    // Another port is another printer: it is asked again.
    EXPECT_FALSE(escPosStatusGivenUp(networkRoute(far.port() + 1).key()));
}

TEST_F(EscPosConnectionTest, NetworkFailuresNameThePrinter) {
    const int closedPort = testutil::freePort();
    EXPECT_EQ(errorOf([&] {
                  TESCPOSPrinter printer(networkRoute(closedPort));
                  printReceipt(printer);
              }),
              QStringLiteral("Принтер 127.0.0.1:%1: соединение отклонено (на этом порту принтер "
                             "не принимает подключений)")
                  .arg(closedPort));

    // A printer that drops the connection in the middle of a long job.
    AnsweringPrinter far(Answers{kOk, kOk, kOk}, 1000);
    ASSERT_TRUE(far.listen());
    const QByteArray stream(4 << 20, 'x');
    std::atomic<bool> cancel{false};
    const QString error =
        errorOf([&] { deliverEscPos(networkRoute(far.port()), stream, QByteArray(), {}, cancel); });
    EXPECT_TRUE(error.startsWith(
        QStringLiteral("Принтер 127.0.0.1:%1: соединение разорвано").arg(far.port())))
        << error.toStdString();
}

TEST_F(EscPosConnectionTest, DeliveryReportsProgressAndStopsWhenCancelled) {
    AnsweringPrinter far(Answers{kOk, kOk, kOk | 0x0C});
    ASSERT_TRUE(far.listen());
    QByteArray stream;
    for (int i = 0; i < 1000; ++i)
        stream += QByteArray::number(i) + ' ';
    const QByteArray tail = "\r\n\x1D\x56\x42\x08";

    std::atomic<bool> cancel{false};
    QList<qint64> seen;
    const EscPosDeliveryResult whole = deliverEscPos(
        networkRoute(far.port()), stream, tail,
        [&](qint64 sent, qint64 total) {
            EXPECT_EQ(total, stream.size());
            seen << sent;
        },
        cancel);
    ASSERT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == 1; }));
    EXPECT_EQ(far.received(), stream);
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.last(), stream.size());
    EXPECT_EQ(seen.size(), (stream.size() + kEscPosChunk - 1) / kEscPosChunk);
    EXPECT_FALSE(whole.cancelled);
    EXPECT_EQ(whole.status, QStringLiteral("бумага заканчивается"));
    EXPECT_EQ(
        whole.warnings,
        QStringList{QStringLiteral("Принтер 127.0.0.1:%1: бумага заканчивается").arg(far.port())});

    // Cancelled after the second chunk: the printer gets those and the tail, no more.
    const EscPosDeliveryResult cut = deliverEscPos(
        networkRoute(far.port()), stream, tail,
        [&](qint64 sent, qint64) {
            if (sent >= 2 * kEscPosChunk)
                cancel = true;
        },
        cancel);
    ASSERT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == 2; }));
    EXPECT_TRUE(cut.cancelled);
    EXPECT_EQ(cut.sent, 2 * kEscPosChunk);
    EXPECT_EQ(hex(far.received().mid(stream.size())), hex(stream.left(2 * kEscPosChunk) + tail));
}

TEST_F(EscPosConnectionTest, DeliveryRefusesAPrinterOutOfPaperBeforeTheFirstByte) {
    AnsweringPrinter far(Answers{kOk | 0x08, kOk | 0x20, kOk | 0x60});
    ASSERT_TRUE(far.listen());
    std::atomic<bool> cancel{false};
    bool progressed = false;
    EXPECT_EQ(errorOf([&] {
                  deliverEscPos(
                      networkRoute(far.port()), "receipt", "",
                      [&](qint64, qint64) { progressed = true; }, cancel);
              }),
              QStringLiteral("Принтер 127.0.0.1:%1: нет бумаги").arg(far.port()));
    ASSERT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == 1; }));
    EXPECT_FALSE(progressed);
    EXPECT_EQ(far.received(), QByteArray());
}

TEST_F(EscPosConnectionTest, AbortTailIsFeedCutAndEndOfJob) {
    Code4 = QStringLiteral("<1D>V<42><08>");
    Code2 = QStringLiteral("<1B>@");
    EXPECT_EQ(hex(TESCPOSPrinter::abortTail()), hex(QByteArray("\r\n\x1D\x56\x42\x08\x1B@")));
    Code2 = QStringLiteral("<1B"); // unfinished escape: the rest of it is dropped
    EXPECT_EQ(hex(TESCPOSPrinter::abortTail()), hex(QByteArray("\r\n\x1D\x56\x42\x08")));
}

// ---- USB device file ----------------------------------------------------------------

TEST_F(EscPosConnectionTest, UsbDeviceFileCarriesTheReceiptAndTheStatus) {
    EscPosStatus = true;
    AnsweringPrinter far(Answers{kOk, kOk, kOk | 0x0C});
    ASSERT_TRUE(far.openPty());
    EscPosRoute route;
    route.connection = ecUsb;
    route.device = far.ptyPath();
    EXPECT_EQ(route.name(), "USB " + far.ptyPath());
    const QByteArray expected = receiptInMemory();
    TESCPOSPrinter printer(route);
    printReceipt(printer);
    ASSERT_TRUE(testutil::waitUntil([&] { return far.received().size() >= expected.size(); }));
    EXPECT_EQ(hex(far.received()), hex(expected));
    EXPECT_EQ(far.queries(), 6);
    EXPECT_EQ(printer.Warnings(),
              QStringList{"Принтер USB " + far.ptyPath() + ": бумага заканчивается"});
}

TEST_F(EscPosConnectionTest, UsbDeviceFileErrors) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("lp9"));
    EXPECT_EQ(errorOf([&] {
                  UsbEscPosOutput out(missing);
                  out.open();
              }),
              "Принтер USB " + missing +
                  ": нет такого устройства (принтер не подключён или выключен)");

    // A device of group lp (root where there is none) that only its group may use.
    const QString device = dir.filePath(QStringLiteral("lp0"));
    testutil::writeFile(device, QByteArray());
    const group* lp = ::getgrnam("lp");
    const gid_t gid = lp ? lp->gr_gid : 0;
    const QString groupName = lp ? QStringLiteral("lp") : QStringLiteral("root");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(device).constData(), 0660), 0);

    QString message;
    QString user;
    if (::geteuid() == 0) {
        // Root opens anything: the test user is nobody, in a child of its own.
        ASSERT_EQ(::chown(QFile::encodeName(device).constData(), 0, gid), 0);
        const passwd* nobody = ::getpwuid(65534);
        user = nobody ? QString::fromLocal8Bit(nobody->pw_name) : QStringLiteral("65534");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            QByteArray result = "(not dropped)";
            if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
                UsbEscPosOutput out(device);
                result = errorOf([&] { out.open(); }).toUtf8();
            }
            [[maybe_unused]] auto w = ::write(fds[1], result.constData(), result.size());
            ::_exit(0);
        }
        ::close(fds[1]);
        QByteArray got;
        char buffer[1024];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        ::close(fds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        message = QString::fromUtf8(got);
    } else {
        const group* mine = ::getgrgid(::getegid());
        ASSERT_EQ(::chmod(QFile::encodeName(device).constData(), 0), 0);
        const passwd* me = ::getpwuid(::geteuid());
        user = QString::fromLocal8Bit(me->pw_name);
        UsbEscPosOutput out(device);
        message = errorOf([&] { out.open(); });
        if (mine)
            const_cast<QString&>(groupName) = QString::fromLocal8Bit(mine->gr_name);
    }
    EXPECT_EQ(message,
              QStringLiteral("Принтер USB %1: нет доступа к устройству. Пользователь «%2» должен "
                             "входить в группу «%3», которой принадлежит устройство: выполните "
                             "«sudo usermod -aG %3 %2» и войдите в систему заново")
                  .arg(device, user, groupName));
}

TEST_F(EscPosConnectionTest, SerialLineCarriesTheStatusToo) {
    if (!testutil::SocatPair::available())
        GTEST_SKIP() << "socat is not installed: no serial line pair for the printer";
    EscPosStatus = true;
    QTemporaryDir dir;
    testutil::SocatPair socat;
    ASSERT_TRUE(socat.start(dir.path()));
    AnsweringPrinter far(Answers{kOk, kOk, kOk | 0x0C});
    ASSERT_TRUE(far.attach(socat.endB()));
    EscPosRoute serial;
    serial.connection = ecSerial;
    serial.comPort = 7;
    serial.device = socat.endA();
    serial.baudRate = 19200;
    const QByteArray expected = receiptInMemory();
    TESCPOSPrinter printer(serial);
    printReceipt(printer);
    ASSERT_TRUE(testutil::waitUntil([&] { return far.received().size() >= expected.size(); }));
    EXPECT_EQ(hex(far.received()), hex(expected));
    EXPECT_EQ(far.queries(), 6);
    EXPECT_EQ(printer.Warnings(),
              QStringList{QStringLiteral("Принтер COM7: бумага заканчивается")});
}

// ---- CUPS raw -----------------------------------------------------------------------

class EscPosCupsTest : public EscPosConnectionTest {
protected:
    void SetUp() override {
        const QString missing = testutil::CupsServer::missingTools();
        if (!missing.isEmpty())
            GTEST_SKIP() << missing.toStdString();
        ASSERT_TRUE(cups.start()) << cups.error().toStdString();
        ASSERT_TRUE(cups.addQueue(QStringLiteral("Receipts"))) << cups.error().toStdString();
    }

    static EscPosRoute cupsRoute(const QString& queue) {
        EscPosRoute r;
        r.connection = ecCupsRaw;
        r.queue = queue;
        return r;
    }

    testutil::CupsServer cups;
};

TEST_F(EscPosCupsTest, ReceiptIsOneRawJobByteForByte) {
    EscPosStatus = true; // a queue cannot answer: nothing is asked, nothing waits
    const QByteArray expected = receiptInMemory(QStringLiteral("A-17"));
    TESCPOSPrinter printer(cupsRoute(QStringLiteral("Receipts")));
    printReceipt(printer, QStringLiteral("A-17"));
    EXPECT_EQ(printer.Status().words(), QStringLiteral("состояние неизвестно"));
    ASSERT_TRUE(cups.waitIdle());
    EXPECT_EQ(hex(cups.captured(QStringLiteral("Receipts"))), hex(expected));
    const QList<testutil::CupsServer::JobInfo> jobs = cups.jobs();
    ASSERT_EQ(jobs.size(), 1);
    EXPECT_EQ(jobs.first().title, QStringLiteral("Чек A-17"));

    // The worker's way: the composed stream in one job under the title it was given.
    EscPosRoute route = cupsRoute(QStringLiteral("Receipts"));
    route.jobTitle = QStringLiteral("Чек A-18");
    std::atomic<bool> cancel{false};
    const EscPosDeliveryResult r = deliverEscPos(route, expected, "", {}, cancel);
    EXPECT_EQ(r.status, QStringLiteral("состояние неизвестно"));
    ASSERT_TRUE(cups.waitIdle());
    EXPECT_EQ(cups.jobs().size(), 2);
    EXPECT_EQ(cups.captured(QStringLiteral("Receipts")).size(), 2 * expected.size());
}

TEST_F(EscPosCupsTest, QueueFailuresNameTheQueue) {
    ASSERT_TRUE(cups.addQueue(QStringLiteral("Closed")));
    ASSERT_TRUE(cups.rejectJobs(QStringLiteral("Closed")));
    EXPECT_EQ(orvanta::QueueStatus(QStringLiteral("Receipts")), orvanta::QueueState::Accepting);
    EXPECT_TRUE(orvanta::PrintServiceAnswers());
    const struct {
        QString queue;
        orvanta::QueueState state;
        QString message;
    } cases[] = {
        {"Missing", orvanta::QueueState::Missing, "Очередь CUPS «Missing»: такой очереди нет"},
        {"Closed", orvanta::QueueState::NotAccepting,
         "Очередь CUPS «Closed»: очередь не принимает задания"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.queue.toStdString());
        EXPECT_EQ(orvanta::QueueStatus(c.queue), c.state);
        TESCPOSPrinter printer(cupsRoute(c.queue));
        EXPECT_EQ(errorOf([&] { printReceipt(printer); }), c.message);
    }

    // The queue goes away while the receipt is composed: the job cannot be handed over.
    TESCPOSPrinter printer(cupsRoute(QStringLiteral("Receipts")));
    printer.OpenCheck(ctSale, "", "", "1", {}, {}, 0);
    cups.stop();
    EXPECT_EQ(errorOf([&] { printer.CloseCheck("1", "", 0, 0, 0, 0, ""); }),
              QStringLiteral("Очередь CUPS «Receipts»: служба печати CUPS не отвечает"));
    EXPECT_FALSE(orvanta::PrintServiceAnswers());
    EXPECT_EQ(orvanta::QueueStatus(QStringLiteral("Receipts")), orvanta::QueueState::NoService);
    EXPECT_EQ(errorOf([] { orvanta::SelectPrinter(QStringLiteral("Receipts")); }),
              QStringLiteral("Служба печати CUPS не отвечает"));
    EXPECT_EQ(errorOf([] {
                  orvanta::SubmitJob(QStringLiteral("Receipts"), QStringLiteral("x"),
                                     {{orvanta::kSpoolRawFormat, "x"}});
              }),
              QStringLiteral("Служба печати CUPS не отвечает: задание для принтера \"Receipts\" "
                             "не передано"));
}

// ---- one order, every way -----------------------------------------------------------

TEST_F(EscPosConnectionTest, OneOrderGivesOneStreamOnEveryConnection) {
    EscPosStatus = false;
    const QByteArray expected = receiptInMemory();
    QMap<QString, QByteArray> got;

    AnsweringPrinter far(Answers{kOk, kOk, kOk});
    ASSERT_TRUE(far.listen());
    {
        TESCPOSPrinter printer(networkRoute(far.port(), false));
        printReceipt(printer);
    }
    ASSERT_TRUE(testutil::waitUntil([&] { return far.connectionsEnded() == 1; }));
    EXPECT_EQ(far.queries(), 0);
    got[QStringLiteral("network")] = far.received();

    QTemporaryDir dir;
    testutil::SocatPair socat;
    if (testutil::SocatPair::available() && socat.start(dir.path())) {
        EscPosRoute serial;
        serial.connection = ecSerial;
        serial.comPort = 7;
        serial.device = socat.endA();
        serial.baudRate = 19200;
        serial.askStatus = false;
        EXPECT_EQ(serial.name(), QStringLiteral("COM7"));
        testutil::SerialCapture capture;
        ASSERT_TRUE(capture.start(socat.endB()));
        {
            TESCPOSPrinter printer(serial);
            printReceipt(printer);
        }
        got[QStringLiteral("serial")] = capture.finish();
    } else {
        ADD_FAILURE() << "socat did not make a serial line pair";
    }

    testutil::CupsServer cups;
    if (testutil::CupsServer::missingTools().isEmpty() && cups.start() &&
        cups.addQueue(QStringLiteral("Receipts"))) {
        EscPosRoute queue;
        queue.connection = ecCupsRaw;
        queue.queue = QStringLiteral("Receipts");
        {
            TESCPOSPrinter printer(queue);
            printReceipt(printer);
        }
        ASSERT_TRUE(cups.waitIdle());
        got[QStringLiteral("CUPS raw")] = cups.captured(QStringLiteral("Receipts"));
    } else {
        ADD_FAILURE() << "no CUPS server of the test's own: " << cups.error().toStdString();
    }

    EscPosRoute screen;
    screen.connection = ecScreen;
    EXPECT_EQ(screen.name(), QStringLiteral("экран"));
    for (auto it = got.cbegin(); it != got.cend(); ++it)
        EXPECT_EQ(hex(it.value()), hex(expected)) << it.key().toStdString();
}

TEST_F(EscPosConnectionTest, RouteFollowsTheSettingsOfItsMoment) {
    EscPosConnection = ecNetwork;
    EscPosHost = QStringLiteral("192.168.0.40");
    EscPosPort = 9100;
    EscPosStatus = false;
    const EscPosRoute net = EscPosRoute::fromSettings();
    EscPosHost = QStringLiteral("192.168.0.41");
    EXPECT_EQ(net.name(), QStringLiteral("192.168.0.40:9100"));
    EXPECT_FALSE(net.askStatus);
    EXPECT_NE(net.key(), EscPosRoute::fromSettings().key());

    const struct {
        int connection;
        QString name;
    } cases[] = {
        {ecUsb, "USB /dev/usb/lp3"},
        {ecCupsRaw, "очередь CUPS «Чеки»"},
        {ecScreen, "экран"},
        {ecSerial, "COM5"},
        {17, "COM5"}, // anything unknown is the serial port
    };
    EscPosDevice = QStringLiteral("/dev/usb/lp3");
    EscPosQueue = QStringLiteral("Чеки");
    ComPort = 5;
    for (const auto& c : cases) {
        EscPosConnection = c.connection;
        EXPECT_EQ(EscPosRoute::fromSettings().name(), c.name) << c.connection;
    }
}

// ---- barcodes -----------------------------------------------------------------------

TEST(EscPosBarCodeDataTest, BracesAreDoubledAndCountedAndUnsupportedTextIsLeftOut) {
    const struct {
        QString text;
        QByteArray sent; // empty: no barcode
    } cases[] = {
        {"A{1", QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\x06{BA{{1\r\n")},
        {"{{", QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\x06{B{{{{\r\n")},
        {QString(252, 'x') + "{", QByteArray()}, // 254 bytes once doubled
        {QString(251, 'x') + "{", QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\xFF{B") +
                                      QByteArray(251, 'x') + "{{\r\n"},
        {"Заказ 5", QByteArray()},
        {"a\x7F", QByteArray()},
        {"~ !", QByteArray("\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\x05{B~ !\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        auto out = std::make_unique<MemoryEscPosOutput>();
        MemoryEscPosOutput* memory = out.get();
        TESCPOSPrinter printer(std::move(out));
        memory->open();
        printer.PrintBarCode(c.text);
        EXPECT_EQ(hex(memory->data()), hex(c.sent));
        EXPECT_EQ(TESCPOSPrinter::barCodeCodeText(c.text).isEmpty(), c.sent.isEmpty());
        if (c.sent.isEmpty()) {
            ASSERT_EQ(printer.Warnings().size(), 1);
            EXPECT_TRUE(
                printer.Warnings().first().startsWith("Штрих-код «" + c.text + "» не напечатан: "))
                << printer.Warnings().first().toStdString();
        } else {
            EXPECT_TRUE(printer.Warnings().isEmpty());
            EXPECT_EQ(*DecodeCodeText(TESCPOSPrinter::barCodeCodeText(c.text)), c.sent);
        }
    }
}

} // namespace

namespace {

// A network printer that has stopped taking bytes (paper jammed, its buffer full): it
// accepts the connection and reads nothing.
class StalledPrinter {
public:
    ~StalledPrinter() {
        if (m_listen >= 0)
            ::close(m_listen);
    }
    // The system accepts the one connection into the backlog; nobody ever reads it.
    bool listen() {
        m_listen = listenOnLoopback(1, m_port);
        return m_listen >= 0;
    }
    int port() const { return m_port; }

private:
    int m_listen = -1;
    int m_port = 0;
};

} // namespace

// What the progress shows as sent is what the printer took, give or take a small buffer:
// a receipt that vanished into the console's own socket buffer could be neither followed
// nor stopped by "Отмена" any more.
TEST_F(EscPosConnectionTest, AStalledNetworkPrinterStopsTheProgressNearWhatItTook) {
    StalledPrinter far;
    ASSERT_TRUE(far.listen());
    const QByteArray stream(4 * 1024 * 1024, 'x');
    std::atomic<qint64> sent{0};
    std::atomic<bool> cancel{false};
    QString error;
    try {
        deliverEscPos(
            networkRoute(far.port(), false), stream, {}, [&](qint64 s, qint64) { sent = s; },
            cancel);
    } catch (const orvanta::Exception& e) {
        error = e.message();
    }
    EXPECT_FALSE(error.isEmpty()) << "a printer that takes nothing fails the receipt";
    // The peer's receive buffer on loopback takes some hundred kilobytes by itself.
    EXPECT_LT(sent.load(), 1024 * 1024) << "sent " << sent.load();
}
