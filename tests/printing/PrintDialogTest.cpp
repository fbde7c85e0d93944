#include "CupsSupport.h"
#include "PrintSettingsSupport.h"
#include "TestUtil.h"

#include "common/GlobConst.h"
#include "core/IniFile.h"
#include "printing/EscPosPrinter.h"
#include "printing/OrderDocument.h"
#include "printing/PrintDialog.h"
#include "printing/PrintSettings.h"
#include "printing/PrinterFactory.h"
#include "printing/ReceiptPrint.h"
#include "printing/ReceiptSpooler.h"
#include "printing/WindowsPrinter.h"
#include "printing/XMLUtils.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QSpinBox>

#include <cups/cups.h>

#include <functional>

namespace {

using testutil::CupsServer;

using Settings = testutil::PrintSettingsSnapshot;

// Runs action on the dialog once it is shown modally.
void whenModal(std::function<void(TfrmPrint*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        auto* dialog = qobject_cast<TfrmPrint*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        action(dialog);
    });
    timer->start();
}

class PrintDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = Settings::current();
        m_dataFolder = DataFolder;
        ASSERT_TRUE(m_dir.isValid());
        // A port of the compatibility layer's kind that exists (COM200), beyond the fixed
        // mapping so that the machine's own ports do not matter.
        QDir(m_dir.path()).mkpath(QStringLiteral("dosdevices"));
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"),
                                m_dir.filePath(QStringLiteral("dosdevices/com200"))));
        DataFolder = m_dir.path() + QLatin1Char('/');
        Settings{0,
                 QStringLiteral("Receipt"),
                 QStringLiteral("DejaVu Sans"),
                 10,
                 200,
                 38400,
                 QStringLiteral("<1B>@"),
                 QStringLiteral("<1B>d<03>"),
                 QStringLiteral("<1C>p<01><00>"),
                 QStringLiteral("<1D>V<42><08>"),
                 true,
                 false,
                 ecSerial,
                 QStringLiteral("/dev/usb/lp0"),
                 QString(),
                 9100,
                 QString(),
                 true,
                 true}
            .apply();
    }
    void TearDown() override {
        m_saved.apply();
        DataFolder = m_dataFolder;
    }

    // A scheduler with two queues, for the tests that need printers to choose from.
    void startPrinters() {
        const QString missing = CupsServer::missingTools();
        if (!missing.isEmpty())
            GTEST_SKIP() << missing.toStdString();
        ASSERT_TRUE(m_cups.start()) << m_cups.error().toStdString();
        ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Office"), true))
            << m_cups.error().toStdString();
        ASSERT_TRUE(m_cups.addQueue(QStringLiteral("Receipt"))) << m_cups.error().toStdString();
    }

    Settings m_saved;
    QString m_dataFolder;
    QTemporaryDir m_dir;
    CupsServer m_cups;
};

} // namespace

// OK needs what the chosen printer needs: a queue for the page printer; the port, device,
// address or queue of the ESC/POS printer's connection. An ESC/POS printer can be set up on
// a machine without any page printer.
TEST_F(PrintDialogTest, OkNeedsWhatTheChosenPrinterNeeds) {
    const struct {
        const char* name;
        int type;
        int connection;
        std::function<void(TfrmPrint&)> give;
    } cases[] = {
        {"serial port", 3, ecSerial,
         [](TfrmPrint& d) { d.cmbComPort->setCurrentIndex(d.cmbComPort->findData(200)); }},
        {"USB device", 3, ecUsb,
         [](TfrmPrint& d) { d.cbxEscPosDevice->setEditText(QStringLiteral("/dev/usb/lp1")); }},
        {"network host", 3, ecNetwork,
         [](TfrmPrint& d) { d.edtEscPosHost->setText(QStringLiteral("192.168.0.40")); }},
        {"screen", 3, ecScreen, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterType = c.type;
        EscPosConnection = c.connection;
        ComPort = 150; // not on this machine
        EscPosDevice.clear();
        EscPosHost.clear();
        TfrmPrint dialog;
        dialog.PrepareForShow();
        EXPECT_EQ(dialog.cbxPrinters->count(), 0) << "no print server in this test";
        EXPECT_EQ(dialog.cmbEscPosConnection->currentIndex(), c.connection);
        EXPECT_EQ(dialog.btnOK->isEnabled(), !c.give) << "before the field is given";
        EXPECT_EQ(dialog.btnTestPrint->isEnabled(), dialog.btnOK->isEnabled());
        if (c.give) {
            c.give(dialog);
            EXPECT_TRUE(dialog.btnOK->isEnabled());
        }
        dialog.cmbDriverType->setCurrentIndex(0);
        EXPECT_FALSE(dialog.btnOK->isEnabled()) << "the page printer needs a queue";
    }
}

TEST_F(PrintDialogTest, OkNeedsAQueueForThePagePrinterAndTheRawQueue) {
    startPrinters();
    if (IsSkipped())
        return;
    PrinterName = QStringLiteral("Removed Printer");
    PrinterType = 0;
    TfrmPrint dialog;
    dialog.PrepareForShow();
    EXPECT_EQ(dialog.cbxPrinters->count(), 2);
    EXPECT_EQ(dialog.cbxPrinters->currentIndex(), -1);
    EXPECT_FALSE(dialog.btnOK->isEnabled());
    dialog.cbxPrinters->setCurrentIndex(dialog.cbxPrinters->findText(QStringLiteral("Receipt")));
    EXPECT_TRUE(dialog.btnOK->isEnabled());

    dialog.cmbDriverType->setCurrentIndex(1);
    dialog.cmbEscPosConnection->setCurrentIndex(ecCupsRaw);
    EXPECT_EQ(dialog.cbxEscPosQueue->count(), 2);
    EXPECT_FALSE(dialog.btnOK->isEnabled()) << "a page printer is not the raw queue";
    dialog.cbxEscPosQueue->setCurrentIndex(0);
    EXPECT_TRUE(dialog.btnOK->isEnabled());

    PrinterName = QStringLiteral("Office");
    TfrmPrint other;
    other.PrepareForShow();
    EXPECT_EQ(other.cbxPrinters->currentText(), QStringLiteral("Office"));
    EXPECT_TRUE(other.btnOK->isEnabled());
}

// With the print service down the lists are empty and say why.
TEST_F(PrintDialogTest, ListsSayWhenThePrintServiceDoesNotAnswer) {
    QTemporaryDir nowhere;
    const QByteArray socket = nowhere.filePath(QStringLiteral("no-cupsd.sock")).toUtf8();
    const QByteArray before = cupsServer();
    cupsSetServer(socket.constData());
    TfrmPrint dialog;
    dialog.PrepareForShow();
    cupsSetServer(before.constData());
    EXPECT_EQ(dialog.cbxPrinters->count(), 0);
    EXPECT_EQ(dialog.cbxPrinters->placeholderText(),
              QStringLiteral("служба печати CUPS не отвечает"));
    EXPECT_EQ(dialog.cbxEscPosQueue->placeholderText(),
              QStringLiteral("служба печати CUPS не отвечает"));
}

// The printer type opens on its item and shows its group; the codes stay for both.
TEST_F(PrintDialogTest, PrinterTypeShowsItsGroup) {
    const struct {
        int type;
        int item;
    } cases[] = {{0, 0}, {1, 0}, {2, 0}, {3, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        PrinterType = c.type;
        TfrmPrint dialog;
        ASSERT_EQ(dialog.cmbDriverType->count(), 2);
        EXPECT_EQ(dialog.cmbDriverType->itemText(0), QStringLiteral("Драйвер Windows"));
        EXPECT_EQ(dialog.cmbDriverType->itemText(1), QStringLiteral("ESC/POS совместимый принтер"));
        dialog.PrepareForShow();
        dialog.show();
        EXPECT_EQ(dialog.cmbDriverType->currentIndex(), c.item);
        EXPECT_EQ(dialog.gbxWindowsDriver->isVisible(), c.item == 0);
        EXPECT_EQ(dialog.gbxPOSDriver->isVisible(), c.item == 1);
        EXPECT_TRUE(dialog.gbxESCCodes->isVisible());
        EXPECT_TRUE(dialog.cbxBarCodePrice->isVisible());
        dialog.cmbDriverType->setCurrentIndex(1 - c.item);
        EXPECT_EQ(dialog.gbxWindowsDriver->isVisible(), c.item == 1);
        EXPECT_EQ(dialog.gbxPOSDriver->isVisible(), c.item == 0);
    }
}

// What OK stores: a port that no longer exists stays saved, a speed not in the list becomes
// 9600, a font family this system lacks is replaced by the one the system prints instead
// (and the dialog says so), the connection and its fields are stored, every other control
// is taken as it stands.
TEST_F(PrintDialogTest, OkStoresTheControls) {
    startPrinters();
    if (IsSkipped())
        return;
    const QString substitute = QFontInfo(QFont(QStringLiteral("No Such Font Family"))).family();
    const struct {
        const char* name;
        int port;
        int rate;
        int shownRate;
        int storedRate;
        int connection;
    } cases[] = {
        {"port gone, odd rate, network printer", 150, 4800, 0, 9600, ecNetwork},
        {"port there, listed rate", 200, 57600, 3, 57600, ecSerial},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComPort = c.port;
        ComRate = c.rate;
        PrinterFontSize = 10;
        PrinterFontName = QStringLiteral("No Such Font Family");
        EscPosStatus = true;
        TfrmPrint dialog;
        dialog.PrepareForShow();
        ASSERT_GE(dialog.cmbComPort->findText(QStringLiteral("COM200")), 0);
        EXPECT_EQ(dialog.cmbComPort->currentIndex() >= 0, c.port == 200);
        EXPECT_EQ(dialog.cmbComRate->currentIndex(), c.shownRate);
        EXPECT_EQ(dialog.cbxFontName->currentText(), substitute);
        EXPECT_TRUE(dialog.lblFontNote->text().contains(QStringLiteral("No Such Font Family")));
        EXPECT_TRUE(dialog.lblFontNote->text().contains(substitute));
        EXPECT_EQ(dialog.cbxFontName->findText(substitute, Qt::MatchStartsWith),
                  dialog.cbxFontName->findText(substitute))
            << "each family once, without its foundry";
        EXPECT_EQ(dialog.cbxFontSize->currentText(), QStringLiteral("10"));
        EXPECT_EQ(dialog.edtESCCode4->text(), QStringLiteral("<1D>V<42><08>"));
        EXPECT_TRUE(dialog.cbxBarCodeOrderName->isChecked());
        dialog.cmbDriverType->setCurrentIndex(1);
        dialog.cmbEscPosConnection->setCurrentIndex(c.connection);
        dialog.edtEscPosHost->setText(QStringLiteral(" 192.168.0.40 "));
        dialog.spnEscPosPort->setValue(9101);
        dialog.cbxEscPosStatus->setChecked(false);
        dialog.cbxFontSize->setEditText(QStringLiteral("12"));
        dialog.edtESCCode2->setText(QStringLiteral("<ZZ> typed as is"));
        dialog.cbxBarCodePrice->setChecked(true);
        dialog.btnOK->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(PrinterType, 3);
        EXPECT_EQ(EscPosConnection, c.connection);
        EXPECT_EQ(EscPosHost, QStringLiteral("192.168.0.40"));
        EXPECT_EQ(EscPosPort, 9101);
        EXPECT_FALSE(EscPosStatus);
        EXPECT_EQ(ComPort, c.port);
        EXPECT_EQ(ComRate, c.storedRate);
        EXPECT_EQ(PrinterFontName, substitute);
        EXPECT_EQ(PrinterFontSize, 12);
        EXPECT_EQ(Code2, QStringLiteral("<ZZ> typed as is"));
        EXPECT_TRUE(BarCodePrice);
        EXPECT_EQ(PrinterName, QStringLiteral("Receipt"));
    }
}

// A font size that is not a number: Cancel changes nothing at all, OK shows the error and
// keeps the dialog open with the focus on the size.
TEST_F(PrintDialogTest, BadFontSize) {
    const Settings before = Settings::current();
    {
        TfrmPrint dialog;
        dialog.PrepareForShow();
        dialog.cmbDriverType->setCurrentIndex(1);
        dialog.edtESCCode1->setText(QStringLiteral("changed"));
        dialog.cbxFontSize->setEditText(QStringLiteral("десять"));
        dialog.btnCancel->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(Settings::current() == before);
    }
    for (const QString& size : {QStringLiteral("десять"), QStringLiteral("0"), QString()}) {
        SCOPED_TRACE(size.toStdString());
        TfrmPrint dialog;
        dialog.PrepareForShow();
        dialog.show();
        dialog.cbxFontSize->setEditText(size);
        QString shown, caption;
        QTimer::singleShot(0, [&] {
            testutil::waitUntil(
                [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }, 5000);
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                caption = box->windowTitle();
                box->accept();
            }
        });
        dialog.btnOK->setEnabled(true); // no printers needed for the size check
        dialog.btnOK->click();
        EXPECT_EQ(shown, QStringLiteral("Неверный размер шрифта. Ожидается число."));
        EXPECT_EQ(caption, QStringLiteral("Ошибка"));
        EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";
        // the offscreen platform activates no window, so ask the dialog, not the application
        const QWidget* focus = dialog.focusWidget();
        EXPECT_TRUE(focus == dialog.cbxFontSize || dialog.cbxFontSize->isAncestorOf(focus));
        EXPECT_TRUE(Settings::current() == before);
    }
}

// The main window's command: its own captions, and OK writes all twelve keys of the
// section; Cancel writes nothing.
TEST_F(PrintDialogTest, OptionsOkWritesTheTwelveKeys) {
    startPrinters();
    if (IsSkipped())
        return;
    const QString ini = m_dir.filePath(QStringLiteral("Console.ini"));
    whenModal([](TfrmPrint* dialog) { dialog->btnCancel->click(); });
    EXPECT_FALSE(ExecutePrintOptions(nullptr, ini));
    EXPECT_FALSE(QFile::exists(ini));

    QString title, okText;
    whenModal([&](TfrmPrint* dialog) {
        title = dialog->windowTitle();
        okText = dialog->btnOK->text();
        dialog->cbxPrinters->setCurrentIndex(
            dialog->cbxPrinters->findText(QStringLiteral("Office")));
        dialog->cmbComRate->setCurrentIndex(4);
        dialog->btnOK->click();
    });
    ASSERT_TRUE(ExecutePrintOptions(nullptr, ini));
    EXPECT_EQ(title, QStringLiteral("Настройка печати"));
    EXPECT_EQ(okText, QStringLiteral("OK"));

    const TIniFile file(ini);
    const QString s = QStringLiteral("Printing");
    const struct {
        const char* key;
        QString value;
    } keys[] = {
        {"PrinterType", QStringLiteral("0")},
        {"PrinterName", QStringLiteral("Office")},
        {"PrinterFontName", QStringLiteral("DejaVu Sans")},
        {"PrinterFontSize", QStringLiteral("10")},
        {"ComPort", QStringLiteral("200")},
        {"ComRate", QStringLiteral("115200")},
        {"Code1", QStringLiteral("<1B>@")},
        {"Code2", QStringLiteral("<1B>d<03>")},
        {"Code3", QStringLiteral("<1C>p<01><00>")},
        {"Code4", QStringLiteral("<1D>V<42><08>")},
        {"BarCodeOrder", QStringLiteral("1")},
        {"BarCodePrice", QStringLiteral("0")},
    };
    for (const auto& k : keys)
        EXPECT_EQ(file.ReadString(s, QString::fromLatin1(k.key), QStringLiteral("<missing>")),
                  k.value)
            << k.key;
}

// The print command's dialog keeps its own captions; when its owner goes away while it is
// open, it reports Cancel and saves nothing.
TEST_F(PrintDialogTest, OwnerGoneWhileOpen) {
    const QString ini = m_dir.filePath(QStringLiteral("Console.ini"));
    auto* owner = new QWidget;
    QString title;
    whenModal([&](TfrmPrint* dialog) {
        title = dialog->windowTitle();
        dialog->btnOK->setEnabled(true);
        delete owner;
    });
    EXPECT_FALSE(ExecutePrintDialog(owner, ini));
    EXPECT_EQ(title, QStringLiteral("Печать"));
    EXPECT_FALSE(QFile::exists(ini));
}

// The printer of a print run follows the printer type; a type without a printer class makes
// nothing and keeps what is there; freeing always leaves the reference empty.
TEST_F(PrintDialogTest, PrinterOfAPrintRun) {
    const struct {
        int type;
        bool page;
        bool escPos;
    } cases[] = {{0, true, false}, {3, false, true}, {1, false, false}, {2, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        PrinterType = c.type;
        CreateInvoicePrinter();
        EXPECT_EQ(dynamic_cast<TWindowsInvoicePrinter*>(InvoicePrinter.get()) != nullptr, c.page);
        EXPECT_EQ(dynamic_cast<TESCPOSPrinter*>(InvoicePrinter.get()) != nullptr, c.escPos);
        if (c.page) {
            EXPECT_EQ(InvoicePrinter->Name(), PrinterName);
        }
        FreeInvoicePrinter();
        EXPECT_FALSE(InvoicePrinter);
        FreeInvoicePrinter(); // nothing left to free: harmless
    }
    PrinterType = 3;
    CreateInvoicePrinter();
    TInvoicePrinter* made = InvoicePrinter.get();
    PrinterType = 2;
    CreateInvoicePrinter();
    EXPECT_EQ(InvoicePrinter.get(), made);
    FreeInvoicePrinter();
}

// "Пробная печать" prints the sample order through the settings as they stand in the
// dialog, keeps none of them, and says how it went.
TEST_F(PrintDialogTest, TestPrintUsesTheDialogsSettingsWithoutKeepingThem) {
    startPrinters();
    if (IsSkipped())
        return;
    const Settings before = Settings::current();
    // What the printer must receive: the sample order composed with the codes shown.
    auto document = CreateXMLDocument();
    document->SetAsync(false);
    document->LoadXML(SampleOrderXml());
    ASSERT_EQ(document->ParseErrorCode(), 0) << "the sample order is built in";
    auto output = std::make_unique<MemoryEscPosOutput>();
    const MemoryEscPosOutput* memory = output.get();
    TESCPOSPrinter composer(std::move(output));
    PrintOrderDocument(&composer, document.get());

    TfrmPrint dialog;
    dialog.PrepareForShow();
    dialog.cmbDriverType->setCurrentIndex(1);
    dialog.cmbEscPosConnection->setCurrentIndex(ecCupsRaw);
    dialog.cbxEscPosQueue->setCurrentIndex(
        dialog.cbxEscPosQueue->findText(QStringLiteral("Receipt")));
    ASSERT_TRUE(dialog.btnTestPrint->isEnabled());
    dialog.btnTestPrint->click();
    EXPECT_EQ(Settings::current(), before) << "a test print keeps nothing of the dialog";
    ASSERT_TRUE(ReceiptSpooler::instance().waitForIdle(20000));
    ASSERT_TRUE(m_cups.waitIdle());
    EXPECT_EQ(m_cups.captured(QStringLiteral("Receipt")), memory->data());
    EXPECT_EQ(dialog.lblTestResult->text(),
              QStringLiteral("Пробный чек напечатан: очередь CUPS «Receipt». Состояние принтера: "
                             "состояние неизвестно."));
}

// The print command never sends a receipt to another page printer behind the operator's
// back: a configured printer that is gone brings up the settings; Cancel prints nothing.
TEST_F(PrintDialogTest, PrintCommandAsksWhenThePagePrinterIsGone) {
    startPrinters();
    if (IsSkipped())
        return;
    const QString ini = m_dir.filePath(QStringLiteral("Console.ini"));
    for (const bool choose : {false, true}) {
        SCOPED_TRACE(choose ? "a printer chosen" : "cancelled");
        PrinterType = 0;
        PrinterName = QStringLiteral("Gone");
        PrintSettingsConfigured = true;
        bool asked = false;
        whenModal([&](TfrmPrint* dialog) {
            asked = true;
            if (!choose) {
                dialog->btnCancel->click();
                return;
            }
            dialog->cbxPrinters->setCurrentIndex(
                dialog->cbxPrinters->findText(QStringLiteral("Receipt")));
            dialog->btnOK->click();
        });
        QWidget owner;
        const std::optional<ReceiptStart> started =
            RunPrintCommand(&owner, ini, SampleOrderXml(), {});
        EXPECT_TRUE(asked);
        EXPECT_EQ(started.has_value(), choose);
        ASSERT_TRUE(ReceiptSpooler::instance().waitForIdle(20000));
        ASSERT_TRUE(m_cups.waitIdle());
        EXPECT_EQ(m_cups.jobs().size(), choose ? 1 : 0);
        if (choose) {
            EXPECT_EQ(started->printer, QStringLiteral("Receipt"));
            EXPECT_EQ(m_cups.jobs().first().printer, QStringLiteral("Receipt"));
            EXPECT_EQ(m_cups.jobs().first().title, QStringLiteral("Чек 125"));
        }
    }
}
