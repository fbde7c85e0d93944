// "Печать" in an order window that a real PAY_BLOCK opened, all the way to the printer:
// the kiosk simulator sends its shipped sample order over loopback, the console's
// connection thread stores it, and the print command drives an ESC/POS printer on a
// serial line pair or a page printer of a print server of the test's own.

#include "CupsSupport.h"
#include "KioskSimSupport.h"
#include "PrintSettingsSupport.h"
#include "SerialSupport.h"
#include "TestUtil.h"
#include "UiTestSupport.h"

#include "common/GlobConst.h"
#include "kiosk/ClientThread.h"
#include "platform/CodePages.h"
#include "printing/EscPosPrinter.h"
#include "printing/OrderDocument.h"
#include "printing/PrintDialog.h"
#include "printing/PrintSettings.h"
#include "printing/PrinterFactory.h"
#include "printing/ReceiptSpooler.h"
#include "printing/XMLUtils.h"
#include "ui/MainForm.h"
#include "ui/OrderConfirm.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using testutil::waitUntil;

namespace {

const QByteArray kStart("\x1B\x74\x07\x1B\x33\x08", 6);
const QByteArray kLogo("\x1C\x70\x01\x00", 4);
const QByteArray kCut("\x1D\x56\x42\x08", 4);
// "Капучино" and "Заказ № 125" in code page 866, spelled out so that the check does not
// lean on the program's own tables.
const QByteArray kCappuccino866("\x8A\xA0\xAF\xE3\xE7\xA8\xAD\xAE");
const QByteArray kOrderLine866("\x87\xA0\xAA\xA0\xA7\x20\xFC\x20\x31\x32\x35");

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

using testutil::SavedPrintSettings;

// The stream the composition of the order makes on an ESC/POS printer, without a port.
QByteArray composedEscPos(const QString& orderXml) {
    auto document = CreateXMLDocument();
    document->SetAsync(false);
    document->LoadXML(orderXml);
    auto output = std::make_unique<MemoryEscPosOutput>();
    MemoryEscPosOutput* memory = output.get();
    TESCPOSPrinter printer(std::move(output));
    PrintOrderDocument(&printer, document.get());
    return memory->data();
}

QString sampleOrder() {
    return QString::fromUtf8(testutil::readFile(
        testutil::sourcePath(QStringLiteral("tools/kiosk-sim/samples/order.xml"))));
}

// The console over one simulated kiosk, connected and its work state asked.
class PrintFromOrderWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start(1)) << sim.output().toStdString();
        ini.WriteDevices({sim.ports()[0]});
        w = std::make_unique<TfrmMain>();
        w->timDelayedStart->stop();
        ASSERT_TRUE(sim.waitForOutput(QStringLiteral("recv GET_WORK_STATE"), 8000))
            << sim.output().toStdString();
        // The window loaded the settings of the ini; each test sets its own.
        PrintSettingsConfigured = true;
        EscPosStatus = false; // the lines' far ends are captures, not printers that answer
        BarCodeOrder = true;
        BarCodePrice = true;
        Code1 = QStringLiteral("<1B>t<07><1B><33><08>");
        Code2 = QString();
        Code3 = QStringLiteral("<1C>p<01><00>");
        Code4 = QStringLiteral("<1D>V<42><08>");
    }

    std::shared_ptr<TDeviceItem> device() const { return w->Devices()[0]; }

    // "pay" with the simulator's arguments; the order window it opens.
    TfrmOrderConfirm* pay(const QString& args = {}) {
        sim.command(QStringLiteral("pay ") + args);
        waitUntil([&] { return w->OrderWindowOf(device().get()) != nullptr; }, 8000);
        return w->OrderWindowOf(device().get());
    }

    // Ends the payment and waits until its window is gone.
    void endPayment() {
        sim.command(QStringLiteral("end"));
        EXPECT_TRUE(waitUntil([&] { return w->OrderWindowOf(device().get()) == nullptr; }));
    }

    // The serial line pair; COM7 of a temporary data folder is its first end.
    bool startSerialLine(QTemporaryDir& dir, testutil::SocatPair& socat) {
        if (!socat.start(dir.path()) || !QDir(dir.path()).mkpath(QStringLiteral("data/dosdevices")))
            return false;
        DataFolder = dir.filePath(QStringLiteral("data")) + QLatin1Char('/');
        if (!QFile::link(socat.endA(), DataFolder + QStringLiteral("dosdevices/com7")))
            return false;
        PrinterType = 3;
        ComPort = 7;
        ComRate = 19200;
        return true;
    }

    SavedPrintSettings saved;
    TempIni ini;
    KioskSim sim;
    std::unique_ptr<TfrmMain> w;
};

} // namespace

TEST_F(PrintFromOrderWindow, SampleOrderArrivesOnTheSerialLineAsComposed) {
    if (!testutil::SocatPair::available())
        GTEST_SKIP() << "socat is not installed: no serial line pair for the printer";
    QTemporaryDir dir;
    testutil::SocatPair socat;
    ASSERT_TRUE(startSerialLine(dir, socat)) << "socat did not make the pseudo terminals";

    TfrmOrderConfirm* window = pay();
    ASSERT_NE(window, nullptr);
    testutil::SerialCapture capture;
    ASSERT_TRUE(capture.start(socat.endB()));
    window->btnPrint->click();
    const QByteArray got = capture.finish();
    ASSERT_TRUE(ReceiptSpooler::instance().waitForIdle(10000));
    EXPECT_EQ(window->lblPrintState->text(), QStringLiteral("Чек напечатан: COM7"));

    EXPECT_FALSE(InvoicePrinter) << "the printer object lives for one print command";
    EXPECT_EQ(w->OrderWindowOf(device().get()), window) << "printing leaves the window open";
    EXPECT_TRUE(device()->PendingCommands().empty()) << "printing queues nothing";

    // The composition of the shipped file, driven apart from the window and the link.
    const QByteArray expected = composedEscPos(sampleOrder());
    EXPECT_EQ(hex(got), hex(expected)) << orvanta::fromCp866(got).toStdString();
    EXPECT_TRUE(got.startsWith(kStart + kLogo)) << hex(got.left(16)).toStdString();
    EXPECT_TRUE(got.endsWith(kCut)) << hex(got.right(16)).toStdString();
    EXPECT_TRUE(got.contains(kOrderLine866));
    EXPECT_TRUE(got.contains(kCappuccino866));
    EXPECT_EQ(got.count(kCut), 1);

    QString why;
    if (!testutil::nposDecoderInstalled(&why))
        GTEST_SKIP() << why.toStdString();
    const QStringList decoded = testutil::nposDecode(got, dir.path(), &why);
    ASSERT_FALSE(decoded.isEmpty()) << why.toStdString();
    EXPECT_EQ(decoded, testutil::nposDecode(expected, dir.path(), &why));
    ASSERT_GE(decoded.size(), 4);
    EXPECT_EQ(decoded.mid(0, 3), QStringList({"ESC t 07", "ESC 3 08", "FS p 01 00"}));
    EXPECT_EQ(decoded.last(), QStringLiteral("GS V 42 08"));
    EXPECT_TRUE(
        decoded.contains(QStringLiteral("LINE ") + QStringLiteral("Заказ № 125").leftJustified(48)))
        << decoded.join('\n').toStdString();
    const auto cappuccino = std::find_if(decoded.cbegin(), decoded.cend(), [](const QString& s) {
        return s.startsWith(QStringLiteral("LINE Капучино "));
    });
    EXPECT_NE(cappuccino, decoded.cend()) << decoded.join('\n').toStdString();
}

TEST_F(PrintFromOrderWindow, PagePrinterMakesOneJobPerPrint) {
    const QString missing = testutil::CupsServer::missingTools();
    if (!missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext is missing (Debian package poppler-utils)";
    testutil::CupsServer cups;
    ASSERT_TRUE(cups.start()) << cups.error().toStdString();
    ASSERT_TRUE(cups.addQueue(QStringLiteral("Receipt"), true)) << cups.error().toStdString();
    PrinterType = 0;
    PrinterName = QStringLiteral("Receipt");
    PrinterFontName = QStringLiteral("DejaVu Sans");
    PrinterFontSize = 10;
    BarCodeOrder = false;
    BarCodePrice = false;

    QTemporaryDir dir;
    const QString noOrder = dir.filePath(QStringLiteral("empty.xml"));
    testutil::writeFile(noOrder, QByteArray());
    const QByteArray head = kStart + kLogo;
    const struct {
        const char* name;
        QString payArgs;
        QByteArray head, tail;
        QStringList text;
    } cases[] = {
        {"the order document",
         QString(),
         head,
         kCut,
         {"Кафе", "Заказ № 125", "Капучино", "Пирожок с капустой", "Скидка 10% на десерты",
          "Корректировка цены", "С собой: Стойка выдачи №2", "Итого", "Спасибо за покупку!"}},
        // Without an order document the invoice text prints as it is, with no codes.
        {"the plain invoice",
         QStringLiteral("730.00 ") + noOrder + QStringLiteral(" -"),
         QByteArray(),
         QByteArray(),
         {"Заказ № 125", "Капучино", "2.0 x 150.00", "ИТОГО", "Сдача", "Ждём вас снова."}},
    };
    int jobs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(cups.captureFile(QStringLiteral("Receipt")));
        TfrmOrderConfirm* window = pay(c.payArgs);
        ASSERT_NE(window, nullptr);
        {
            TDeviceLock lock(*device());
            ASSERT_EQ(device()->OrderXML.isEmpty(), c.head.isEmpty());
        }
        window->btnPrint->click();
        ++jobs;
        EXPECT_FALSE(InvoicePrinter);
        ASSERT_TRUE(ReceiptSpooler::instance().waitForIdle(20000));
        EXPECT_EQ(window->lblPrintState->text(), QStringLiteral("Чек напечатан: Receipt"));
        ASSERT_TRUE(cups.waitIdle());
        ASSERT_EQ(cups.jobs().size(), jobs) << "one print, one job";

        const QByteArray data = cups.captured(QStringLiteral("Receipt"));
        ASSERT_TRUE(data.startsWith(c.head + "%PDF-")) << hex(data.left(24)).toStdString();
        ASSERT_TRUE(data.endsWith(c.tail)) << hex(data.right(24)).toStdString();
        const QString pdfFile = dir.filePath(QStringLiteral("page.pdf"));
        testutil::writeFile(pdfFile,
                            data.mid(c.head.size(), data.size() - c.head.size() - c.tail.size()));
        const QString text = QString::fromUtf8(
            testutil::runTool(QStringLiteral("pdftotext"), {pdfFile, QStringLiteral("-")}));
        EXPECT_TRUE(testutil::inOrder(text, c.text));
        endPayment();
    }
}

// The main window may destroy the order window while its print command waits for the
// operator: in the print settings dialog, or in the box of a printer error. The command
// must end without touching either, and free the printer.
TEST_F(PrintFromOrderWindow, WindowDestroyedWhileThePrintCommandWaits) {
    const struct {
        const char* name;
        int printerType;
        QString kioskCommand;
        bool settingsDialog; // else the error box
    } cases[] = {
        {"settings dialog, end of payment", 1, QStringLiteral("end"), true},
        // The kiosk starts idle; a state report closes the window only when it changes.
        {"settings dialog, state change", 1, QStringLiteral("start"), true},
        {"error box, end of payment", 3, QStringLiteral("end"), false},
        {"error box, state change", 3, QStringLiteral("stop"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterType = c.printerType;
        ComPort = 97; // no device: opening the port fails
        const QString iniBefore = ini.Read();
        QPointer<TfrmOrderConfirm> window = pay();
        ASSERT_FALSE(window.isNull());

        QString seen;
        bool sent = false;
        bool gaveUp = false;
        QElapsedTimer clock;
        clock.start();
        bool modalOutlivedWindow = false;
        QElapsedTimer closedAt; // started when the window was first seen closed
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!sent) {
                if (!modal)
                    return;
                if (auto* box = qobject_cast<QMessageBox*>(modal))
                    seen = QStringLiteral("box: ") + box->text();
                else if (qobject_cast<TfrmPrint*>(modal))
                    seen = QStringLiteral("settings");
                // The kiosk ends the payment once the operator looks at the dialog.
                sim.command(c.kioskCommand);
                sent = true;
                return;
            }
            const bool stillOpen = !window.isNull() && !window->IsClosed();
            if (stillOpen && clock.elapsed() < 15000)
                return;
            gaveUp = stillOpen;
            // The window's dialog goes with it, once the dialog's own event loop has
            // unwound: a moment after the window says it is closed, not at the same tick.
            if (modal && !gaveUp) {
                if (!closedAt.isValid())
                    closedAt.start();
                if (closedAt.elapsed() < 2000)
                    return;
            }
            if (modal) {
                // A dialog that outlived its window would leave the operator a dead end.
                modalOutlivedWindow = true;
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->reject();
            }
            timer.stop();
        });
        timer.start();
        window->btnPrint->click();
        // The settings dialog waits inside the command; a printer's error arrives later,
        // from the receipt's sending.
        waitUntil([&] { return !timer.isActive(); }, 30000);
        timer.stop();

        EXPECT_EQ(seen, c.settingsDialog
                            ? QStringLiteral("settings")
                            : QStringLiteral("box: ESCPOS.PortOpen: невозможно открыть COM порт"));
        EXPECT_FALSE(gaveUp) << "the kiosk's report did not close the window";
        EXPECT_FALSE(modalOutlivedWindow);
        EXPECT_FALSE(InvoicePrinter);
        EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
        EXPECT_EQ(ini.Read(), iniBefore) << "a dialog that went with its window saves nothing";
        EXPECT_FALSE(sim.output().contains(QStringLiteral("recv ORDER_")));
        if (c.kioskCommand != QStringLiteral("end"))
            sim.command(QStringLiteral("end"));
        testutil::pump(100);
    }
}

namespace {

// An order of count sale lines.
QByteArray longOrder(int count) {
    QByteArray xml = "<order><name>77</name><invoice>";
    for (int i = 0; i < count; ++i)
        xml += "<item><shortname>Item " + QByteArray::number(i) +
               "</shortname><value>1</value><price>10</price><totalprice>10</totalprice></item>";
    return xml + "<price>" + QByteArray::number(count * 10) + "</price></invoice></order>";
}

// A serial line whose far end the test reads at its own pace: a pseudo terminal (a few
// kilobytes of buffer) drained a block at a time until told to hurry, so the printer's
// writes wait for the reader, yet never long enough to give up.
class SlowLine {
public:
    ~SlowLine() {
        m_fast = true;
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : {m_master, m_slave})
            if (fd >= 0)
                ::close(fd);
    }

    bool open() {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return false;
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        ::fcntl(m_slave, F_SETFL, ::fcntl(m_slave, F_GETFL) | O_NONBLOCK);
        return true;
    }
    QString device() const { return QString::fromLocal8Bit(::ptsname(m_master)); }

    void startReading() {
        m_thread = std::thread([this] {
            char buffer[65536];
            while (!m_stop) {
                pollfd pfd{m_master, POLLIN, 0};
                if (::poll(&pfd, 1, 20) <= 0)
                    continue;
                const ssize_t n = ::read(m_master, buffer, m_fast ? sizeof buffer : 4096);
                if (n > 0) {
                    std::lock_guard lock(m_mutex);
                    m_data.append(buffer, n);
                }
                if (!m_fast)
                    QThread::msleep(15);
            }
        });
    }
    void hurry() { m_fast = true; }
    QByteArray finish(qsizetype expected) {
        waitUntil(
            [&] {
                std::lock_guard lock(m_mutex);
                return m_data.size() >= expected;
            },
            30000);
        m_stop = true;
        m_thread.join();
        return m_data;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_fast{false};
    std::mutex m_mutex;
    QByteArray m_data;
};

} // namespace

// A slow printer holds up no one: while the receipt goes out the order window shows its
// progress, the kiosk's reports are handled at once, and the operator may confirm the order;
// the window closing never cuts the receipt short. "Отмена" stops the receipt, feeds and
// cuts the paper.
TEST_F(PrintFromOrderWindow, ASlowPrinterHoldsUpNeitherTheOperatorNorTheKiosk) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("data/dosdevices")));
    DataFolder = dir.filePath(QStringLiteral("data")) + QLatin1Char('/');
    PrinterType = 3;
    ComPort = 7;
    ComRate = 19200;
    BarCodeOrder = false;
    BarCodePrice = false;
    // Long enough that draining it a block at a time outlasts the checks below.
    const QByteArray order = longOrder(24000);
    const QString orderFile = dir.filePath(QStringLiteral("long.xml"));
    testutil::writeFile(orderFile, order);
    const QByteArray expected = composedEscPos(QString::fromUtf8(order));
    ReceiptSpooler& spooler = ReceiptSpooler::instance();

    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "confirmed while printing");
        SlowLine line;
        ASSERT_TRUE(line.open());
        QFile::remove(DataFolder + QStringLiteral("dosdevices/com7"));
        ASSERT_TRUE(QFile::link(line.device(), DataFolder + QStringLiteral("dosdevices/com7")));
        QPointer<TfrmOrderConfirm> window =
            pay(QStringLiteral("240000.00 ") + orderFile + QStringLiteral(" -"));
        ASSERT_FALSE(window.isNull());
        line.startReading();
        const qsizetype mark = sim.output().size();

        window->btnPrint->click();
        ASSERT_NE(window->PrintJob(), 0) << window->lblPrintState->text().toStdString();
        EXPECT_TRUE(waitUntil([&] { return window->prbPrint->value() > 0; }, 10000));
        EXPECT_TRUE(window->btnPrintCancel->isVisible());
        EXPECT_TRUE(spooler.busy());
        if (!cancel) {
            // A report of the kiosk is handled while the receipt goes out.
            device()->AddKioskCommand(kcGetWorkState);
            EXPECT_TRUE(waitUntil(
                [&] {
                    return sim.output().mid(mark).contains(QStringLiteral("recv GET_WORK_STATE"));
                },
                8000));
            window->btnAccept->click();
            EXPECT_TRUE(waitUntil(
                [&] {
                    return sim.output().mid(mark).contains(QStringLiteral("recv ORDER_CONFIRM"));
                },
                8000));
            EXPECT_TRUE(spooler.busy()) << "the order was decided before the paper was out";
            line.hurry();
            const QByteArray got = line.finish(expected.size());
            ASSERT_TRUE(spooler.waitForIdle(30000));
            ASSERT_EQ(got.size(), expected.size());
            EXPECT_TRUE(got == expected) << "the window's end cut the receipt short or changed it";
            EXPECT_TRUE(window.isNull() || window->IsClosed());
        } else {
            window->btnPrintCancel->click();
            ASSERT_TRUE(spooler.waitForIdle(30000));
            line.hurry();
            testutil::pump(500); // the feed and the cut, still on the line
            const QByteArray got = line.finish(0);
            EXPECT_LT(got.size(), expected.size());
            EXPECT_TRUE(got.endsWith(QByteArray("\r\n") + kCut))
                << hex(got.right(16)).toStdString();
            EXPECT_EQ(window->lblPrintState->text(),
                      QStringLiteral("Печать чека остановлена: COM7"));
            EXPECT_FALSE(window->prbPrint->isVisible());
            endPayment();
        }
    }
}
