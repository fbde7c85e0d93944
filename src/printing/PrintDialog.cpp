#include "printing/PrintDialog.h"

#include "common/GlobConst.h"
#include "platform/Error.h"
#include "platform/SerialPort.h"
#include "platform/Spooler.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptPrint.h"
#include "printing/ReceiptSpooler.h"
#include "printing/XMLUtils.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include <array>

namespace {

constexpr std::array<int, 5> kComRates = {9600, 19200, 38400, 57600, 115200};

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

template <typename T> T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

} // namespace

TfrmPrint::TfrmPrint(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmPrint"));
    setWindowTitle(QStringLiteral("Печать"));

    // The seven images of the dialog, from the style so that they follow the desktop's
    // theme; the printer-type items show images 4 and 5.
    const QStyle::StandardPixmap pixmaps[7] = {
        QStyle::SP_FileIcon,           QStyle::SP_DirIcon,      QStyle::SP_DialogOkButton,
        QStyle::SP_DialogCancelButton, QStyle::SP_ComputerIcon, QStyle::SP_DriveHDIcon,
        QStyle::SP_MessageBoxWarning};
    for (QStyle::StandardPixmap pixmap : pixmaps)
        ImageList1.append(style()->standardIcon(pixmap));

    auto* root = new QVBoxLayout(this);

    auto* typeRow = new QHBoxLayout;
    lblDriverType =
        makeLabel(QStringLiteral("lblDriverType"), QStringLiteral("Тип принтера:"), this);
    cmbDriverType = named(new QComboBox(this), QStringLiteral("cmbDriverType"));
    cmbDriverType->setIconSize(QSize(16, 16));
    cmbDriverType->addItem(ImageList1.at(4), QStringLiteral("Драйвер Windows"));
    cmbDriverType->addItem(ImageList1.at(5), QStringLiteral("ESC/POS совместимый принтер"));
    lblDriverType->setBuddy(cmbDriverType);
    typeRow->addWidget(lblDriverType);
    typeRow->addWidget(cmbDriverType, 1);
    root->addLayout(typeRow);

    // The two printer groups share one place; only the chosen type's group shows.
    auto* driverPlace = new QWidget(this);
    auto* driverStack = new QVBoxLayout(driverPlace);
    driverStack->setContentsMargins(0, 0, 0, 0);

    gbxWindowsDriver = named(new QGroupBox(QStringLiteral(" Принтер "), driverPlace),
                             QStringLiteral("gbxWindowsDriver"));
    auto* windowsGrid = new QGridLayout(gbxWindowsDriver);
    lblPrinters =
        makeLabel(QStringLiteral("lblPrinters"), QStringLiteral("Принтер:"), gbxWindowsDriver);
    cbxPrinters = named(new QComboBox(gbxWindowsDriver), QStringLiteral("cbxPrinters"));
    lblFontName =
        makeLabel(QStringLiteral("lblFontName"), QStringLiteral("Шрифт:"), gbxWindowsDriver);
    cbxFontName = named(new QComboBox(gbxWindowsDriver), QStringLiteral("cbxFontName"));
    lblFontSize =
        makeLabel(QStringLiteral("lblFontSize"), QStringLiteral("Размер:"), gbxWindowsDriver);
    cbxFontSize = named(new QComboBox(gbxWindowsDriver), QStringLiteral("cbxFontSize"));
    cbxFontSize->setEditable(true);
    cbxFontSize->setInsertPolicy(QComboBox::NoInsert);
    for (int size = 4; size <= 30; ++size)
        cbxFontSize->addItem(QString::number(size));
    cbxFontSize->setEditText(QStringLiteral("8"));
    lblPrinters->setBuddy(cbxPrinters);
    lblFontName->setBuddy(cbxFontName);
    lblFontSize->setBuddy(cbxFontSize);
    windowsGrid->addWidget(lblPrinters, 0, 0);
    windowsGrid->addWidget(cbxPrinters, 0, 1, 1, 3);
    windowsGrid->addWidget(lblFontName, 1, 0);
    windowsGrid->addWidget(cbxFontName, 1, 1);
    windowsGrid->addWidget(lblFontSize, 1, 2);
    windowsGrid->addWidget(cbxFontSize, 1, 3);
    lblFontNote = makeLabel(QStringLiteral("lblFontNote"), QString(), gbxWindowsDriver);
    lblFontNote->setWordWrap(true);
    lblFontNote->hide();
    windowsGrid->addWidget(lblFontNote, 2, 1, 1, 3);
    windowsGrid->setColumnStretch(1, 1);
    driverStack->addWidget(gbxWindowsDriver);

    gbxPOSDriver =
        named(new QGroupBox(QStringLiteral(" Порт "), driverPlace), QStringLiteral("gbxPOSDriver"));
    auto* posGrid = new QGridLayout(gbxPOSDriver);
    lblEscPosConnection = makeLabel(QStringLiteral("lblEscPosConnection"),
                                    QStringLiteral("Подключение:"), gbxPOSDriver);
    cmbEscPosConnection = named(new QComboBox(gbxPOSDriver), QStringLiteral("cmbEscPosConnection"));
    cmbEscPosConnection->addItems(connectionNames());
    lblEscPosConnection->setBuddy(cmbEscPosConnection);
    posGrid->addWidget(lblEscPosConnection, 0, 0);
    posGrid->addWidget(cmbEscPosConnection, 0, 1);

    // One page of fields per way of connecting, in the order of the items above.
    stkEscPosConnection =
        named(new QStackedWidget(gbxPOSDriver), QStringLiteral("stkEscPosConnection"));
    auto addPage = [this] {
        auto* page = new QWidget(stkEscPosConnection);
        auto* grid = new QGridLayout(page);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setColumnStretch(1, 1);
        stkEscPosConnection->addWidget(page);
        return std::pair{page, grid};
    };
    {
        auto [page, grid] = addPage();
        lblComPort = makeLabel(QStringLiteral("lblComPort"),
                               QStringLiteral("Номер коммуникационного порта:"), page);
        cmbComPort = named(new QComboBox(page), QStringLiteral("cmbComPort"));
        lblComRate = makeLabel(QStringLiteral("lblComRate"),
                               QStringLiteral("Скорость передачи данных:"), page);
        cmbComRate = named(new QComboBox(page), QStringLiteral("cmbComRate"));
        for (int rate : kComRates)
            cmbComRate->addItem(QString::number(rate));
        lblComPort->setBuddy(cmbComPort);
        lblComRate->setBuddy(cmbComRate);
        grid->addWidget(lblComPort, 0, 0);
        grid->addWidget(cmbComPort, 0, 1);
        grid->addWidget(lblComRate, 1, 0);
        grid->addWidget(cmbComRate, 1, 1);
    }
    {
        auto [page, grid] = addPage();
        lblEscPosDevice =
            makeLabel(QStringLiteral("lblEscPosDevice"), QStringLiteral("Устройство:"), page);
        cbxEscPosDevice = named(new QComboBox(page), QStringLiteral("cbxEscPosDevice"));
        cbxEscPosDevice->setEditable(true);
        cbxEscPosDevice->setInsertPolicy(QComboBox::NoInsert);
        cbxEscPosDevice->setToolTip(
            QStringLiteral("Файл устройства USB-принтера, например /dev/usb/lp0"));
        lblEscPosDevice->setBuddy(cbxEscPosDevice);
        grid->addWidget(lblEscPosDevice, 0, 0);
        grid->addWidget(cbxEscPosDevice, 0, 1);
        grid->setRowStretch(1, 1);
    }
    {
        auto [page, grid] = addPage();
        lblEscPosHost =
            makeLabel(QStringLiteral("lblEscPosHost"), QStringLiteral("Адрес принтера:"), page);
        edtEscPosHost = named(new QLineEdit(page), QStringLiteral("edtEscPosHost"));
        edtEscPosHost->setPlaceholderText(QStringLiteral("например 192.168.0.40"));
        lblEscPosPort = makeLabel(QStringLiteral("lblEscPosPort"), QStringLiteral("Порт:"), page);
        spnEscPosPort = named(new QSpinBox(page), QStringLiteral("spnEscPosPort"));
        spnEscPosPort->setRange(1, 65535);
        lblEscPosHost->setBuddy(edtEscPosHost);
        lblEscPosPort->setBuddy(spnEscPosPort);
        grid->addWidget(lblEscPosHost, 0, 0);
        grid->addWidget(edtEscPosHost, 0, 1);
        grid->addWidget(lblEscPosPort, 1, 0);
        grid->addWidget(spnEscPosPort, 1, 1, Qt::AlignLeft);
    }
    {
        auto [page, grid] = addPage();
        lblEscPosQueue =
            makeLabel(QStringLiteral("lblEscPosQueue"), QStringLiteral("Очередь CUPS:"), page);
        cbxEscPosQueue = named(new QComboBox(page), QStringLiteral("cbxEscPosQueue"));
        cbxEscPosQueue->setToolTip(QStringLiteral(
            "Очередь, которая передаёт данные принтеру без обработки (raw), например "
            "созданная командой lpadmin -p Чеки -v usb://... -m raw"));
        lblEscPosQueue->setBuddy(cbxEscPosQueue);
        grid->addWidget(lblEscPosQueue, 0, 0);
        grid->addWidget(cbxEscPosQueue, 0, 1);
        grid->setRowStretch(1, 1);
    }
    {
        auto [page, grid] = addPage();
        lblEscPosScreen = makeLabel(
            QStringLiteral("lblEscPosScreen"),
            QStringLiteral("Чек не печатается, а показывается в окне «Просмотр чека» так, как "
                           "его напечатал бы принтер."),
            page);
        lblEscPosScreen->setWordWrap(true);
        grid->addWidget(lblEscPosScreen, 0, 0, 1, 2);
    }
    posGrid->addWidget(stkEscPosConnection, 1, 0, 1, 2);
    cbxEscPosStatus =
        named(new QCheckBox(QStringLiteral("Запрашивать состояние принтера (бумага, крышка)"),
                            gbxPOSDriver),
              QStringLiteral("cbxEscPosStatus"));
    posGrid->addWidget(cbxEscPosStatus, 2, 0, 1, 2);
    posGrid->setColumnStretch(1, 1);
    driverStack->addWidget(gbxPOSDriver);
    root->addWidget(driverPlace);

    gbxESCCodes =
        named(new QGroupBox(
                  QStringLiteral(" Управляющие коды принтера (вводятся при необходимости) "), this),
              QStringLiteral("gbxESCCodes"));
    auto* codesGrid = new QGridLayout(gbxESCCodes);
    const QString codeCaptions[4] = {
        QStringLiteral("Начало задания:"), QStringLiteral("Конец задания:"),
        QStringLiteral("Печать логотипа:"), QStringLiteral("Отрезка бумаги:")};
    QLabel** codeLabels[4] = {&lblESCCode1, &lblESCCode2, &lblESCCode3, &lblESCCode4};
    QLineEdit** codeEdits[4] = {&edtESCCode1, &edtESCCode2, &edtESCCode3, &edtESCCode4};
    for (int i = 0; i < 4; ++i) {
        const QString n = QString::number(i + 1);
        *codeLabels[i] = makeLabel(QStringLiteral("lblESCCode") + n, codeCaptions[i], gbxESCCodes);
        *codeEdits[i] = named(new QLineEdit(gbxESCCodes), QStringLiteral("edtESCCode") + n);
        (*codeLabels[i])->setBuddy(*codeEdits[i]);
        codesGrid->addWidget(*codeLabels[i], i, 0);
        codesGrid->addWidget(*codeEdits[i], i, 1);
    }
    root->addWidget(gbxESCCodes);

    cbxBarCodeOrderName =
        named(new QCheckBox(QStringLiteral("Печатать штрих-код с номером заказа"), this),
              QStringLiteral("cbxBarCodeOrderName"));
    cbxBarCodePrice =
        named(new QCheckBox(QStringLiteral("Печатать штрих-код с ценой заказа"), this),
              QStringLiteral("cbxBarCodePrice"));
    root->addWidget(cbxBarCodeOrderName);
    root->addWidget(cbxBarCodePrice);
    root->addStretch(1);

    Bevel1 = named(new QFrame(this), QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    root->addWidget(Bevel1);

    auto* buttons = new QHBoxLayout;
    btnTestPrint = named(new QPushButton(QStringLiteral("Пробная печать"), this),
                         QStringLiteral("btnTestPrint"));
    btnTestPrint->setAutoDefault(false);
    btnTestPrint->setToolTip(
        QStringLiteral("Напечатать образец чека с настройками, выбранными сейчас, не сохраняя их"));
    lblTestResult = makeLabel(QStringLiteral("lblTestResult"), QString(), this);
    lblTestResult->setWordWrap(true);
    buttons->addWidget(btnTestPrint);
    buttons->addWidget(lblTestResult, 1);
    btnOK = named(new QPushButton(QStringLiteral("Печать"), this), QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = named(new QPushButton(QStringLiteral("Отмена"), this), QStringLiteral("btnCancel"));
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    root->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmbDriverType, &QComboBox::currentIndexChanged, this,
            [this] { cmbDriverTypeChange(); });
    connect(cbxPrinters, &QComboBox::currentIndexChanged, this, [this] { cbxPrintersChange(); });
    connect(cmbEscPosConnection, &QComboBox::currentIndexChanged, this, [this](int index) {
        stkEscPosConnection->setCurrentIndex(std::max(index, 0));
        // A preview has no printer to ask.
        cbxEscPosStatus->setEnabled(index != ecCupsRaw && index != ecScreen);
        UpdateOKButton();
    });
    // What the chosen connection needs decides OK, so every field of it is watched.
    connect(cmbComPort, &QComboBox::currentIndexChanged, this, [this] { UpdateOKButton(); });
    connect(cbxEscPosDevice, &QComboBox::currentTextChanged, this, [this] { UpdateOKButton(); });
    connect(edtEscPosHost, &QLineEdit::textChanged, this, [this] { UpdateOKButton(); });
    connect(cbxEscPosQueue, &QComboBox::currentIndexChanged, this, [this] { UpdateOKButton(); });
    connect(btnTestPrint, &QPushButton::clicked, this, [this] { btnTestPrintClick(); });
    connect(&ReceiptSpooler::instance(), &ReceiptSpooler::finished, this,
            &TfrmPrint::testPrintFinished);

    // The connection fields and the test print need more room than the two groups had.
    setFixedSize(540, std::max(440, sizeHint().height()));
    FormCreate();
    cmbDriverTypeChange();
    UpdateOKButton();
}

TfrmPrint::~TfrmPrint() = default;

void TfrmPrint::FormCreate() {
    for (const orvanta::SerialPortInfo& port : orvanta::availableSerialPorts(DataFolder)) {
        if (port.number > 0)
            cmbComPort->addItem(QStringLiteral("COM") + QString::number(port.number), port.number);
    }
    // One item per family: the font database names a family once per foundry that has it,
    // as "Family [Foundry]", and the receipt font is asked for by family alone.
    QStringList families;
    for (QString family : QFontDatabase::families()) {
        if (const qsizetype bracket = family.indexOf(QStringLiteral(" [")); bracket > 0)
            family.truncate(bracket);
        if (!families.contains(family))
            families << family;
    }
    cbxFontName->addItems(families);
}

QStringList TfrmPrint::connectionNames() {
    return {QStringLiteral("Последовательный порт (COM)"), QStringLiteral("USB"),
            QStringLiteral("Сеть (TCP/IP)"), QStringLiteral("Очередь CUPS (без обработки)"),
            QStringLiteral("Экран (просмотр чека)")};
}

QStringList TfrmPrint::usbPrinterDevices() {
    QStringList devices;
    const QDir usb(QStringLiteral("/dev/usb"));
    for (const QString& name :
         usb.entryList({QStringLiteral("lp*")}, QDir::System | QDir::Files, QDir::Name))
        devices << usb.filePath(name);
    return devices;
}

void TfrmPrint::PrepareForShow() {
    cmbDriverType->setCurrentIndex(PrinterType == 3 ? 1 : 0);
    cmbDriverTypeChange();

    // An empty list must say why when the print service is down, or the operator looks
    // for a printer that was never removed.
    const bool serviceAnswers = orvanta::PrintServiceAnswers();
    const QString noService = QStringLiteral("служба печати CUPS не отвечает");
    const QStringList queues = orvanta::InstalledPrinters();
    cbxPrinters->clear();
    cbxPrinters->addItems(queues);
    cbxPrinters->setPlaceholderText(serviceAnswers ? QString() : noService);
    cbxPrinters->setCurrentIndex(cbxPrinters->findText(PrinterName));
    cbxPrintersChange();
    cbxEscPosQueue->clear();
    cbxEscPosQueue->addItems(queues);
    cbxEscPosQueue->setPlaceholderText(serviceAnswers ? QString() : noService);
    cbxEscPosQueue->setCurrentIndex(cbxEscPosQueue->findText(EscPosQueue));

    // A family this system lacks (the default one comes from another system) would leave
    // the field empty; the family the system prints in its place is shown instead, and said.
    int font = cbxFontName->findText(PrinterFontName);
    lblFontNote->hide();
    if (font < 0 && !PrinterFontName.isEmpty()) {
        const QString substitute = QFontInfo(QFont(PrinterFontName)).family();
        font = cbxFontName->findText(substitute);
        if (font >= 0) {
            lblFontNote->setText(
                QStringLiteral("Шрифта «%1» нет в системе; выбран «%2», которым система его "
                               "заменяет.")
                    .arg(PrinterFontName, substitute));
            lblFontNote->show();
        }
    }
    cbxFontName->setCurrentIndex(font);
    cbxFontSize->setEditText(QString::number(PrinterFontSize));
    cmbComPort->setCurrentIndex(cmbComPort->findData(ComPort));

    const auto rate = std::find(kComRates.begin(), kComRates.end(), ComRate);
    cmbComRate->setCurrentIndex(rate == kComRates.end() ? 0 : int(rate - kComRates.begin()));

    cmbEscPosConnection->setCurrentIndex(
        EscPosConnection >= ecSerial && EscPosConnection <= ecScreen ? EscPosConnection : ecSerial);
    cbxEscPosDevice->clear();
    cbxEscPosDevice->addItems(usbPrinterDevices());
    cbxEscPosDevice->setEditText(EscPosDevice);
    edtEscPosHost->setText(EscPosHost);
    spnEscPosPort->setValue(EscPosPort);
    cbxEscPosStatus->setChecked(EscPosStatus);

    edtESCCode1->setText(Code1);
    edtESCCode2->setText(Code2);
    edtESCCode3->setText(Code3);
    edtESCCode4->setText(Code4);
    cbxBarCodeOrderName->setChecked(BarCodeOrder);
    cbxBarCodePrice->setChecked(BarCodePrice);
    UpdateOKButton();
}

void TfrmPrint::done(int result) {
    if (result == QDialog::Accepted && !FormCloseQuery())
        return;
    if (result == QDialog::Accepted)
        FormClose();
    QDialog::done(result);
}

bool TfrmPrint::FormCloseQuery() {
    bool ok = false;
    const int size = cbxFontSize->currentText().toInt(&ok);
    // A size below 1 point cannot be printed either; it is refused like a non-number.
    if (ok && size >= 1)
        return true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"),
                    QStringLiteral("Неверный размер шрифта. Ожидается число."), QMessageBox::Ok,
                    this);
    box.setWindowModality(Qt::WindowModal); // blocks this dialog, not the order windows
    box.exec();
    cbxFontSize->setFocus();
    return false;
}

void TfrmPrint::FormClose() {
    PrinterType = cmbDriverType->currentIndex() == 1 ? 3 : 0;
    if (cbxPrinters->currentIndex() >= 0)
        PrinterName = cbxPrinters->currentText();
    if (cbxFontName->currentIndex() >= 0)
        PrinterFontName = cbxFontName->currentText();
    PrinterFontSize = cbxFontSize->currentText().toInt();
    if (cmbComPort->currentIndex() >= 0)
        ComPort = cmbComPort->currentData().toInt();
    const int rateIndex = cmbComRate->currentIndex();
    ComRate = rateIndex >= 1 && rateIndex < int(kComRates.size()) ? kComRates[rateIndex] : 9600;
    Code1 = edtESCCode1->text();
    Code2 = edtESCCode2->text();
    Code3 = edtESCCode3->text();
    Code4 = edtESCCode4->text();
    BarCodeOrder = cbxBarCodeOrderName->isChecked();
    BarCodePrice = cbxBarCodePrice->isChecked();
    EscPosConnection = std::max(cmbEscPosConnection->currentIndex(), 0);
    if (const QString device = cbxEscPosDevice->currentText().trimmed(); !device.isEmpty())
        EscPosDevice = device;
    EscPosHost = edtEscPosHost->text().trimmed();
    EscPosPort = spnEscPosPort->value();
    if (cbxEscPosQueue->currentIndex() >= 0)
        EscPosQueue = cbxEscPosQueue->currentText();
    EscPosStatus = cbxEscPosStatus->isChecked();
}

void TfrmPrint::cmbDriverTypeChange() {
    gbxWindowsDriver->setVisible(cmbDriverType->currentIndex() == 0);
    gbxPOSDriver->setVisible(cmbDriverType->currentIndex() == 1);
    if (btnTestPrint)
        UpdateOKButton();
}

void TfrmPrint::cbxPrintersChange() {
    UpdateOKButton();
}

// OK needs what the chosen printer needs, nothing more: a page printer needs a queue, an
// ESC/POS printer the port, device, address or queue of its connection. (A rule that always
// asked for a page printer made an ESC/POS printer impossible to set up on a machine
// without one.)
void TfrmPrint::UpdateOKButton() {
    bool ready = false;
    if (cmbDriverType->currentIndex() != 1) {
        ready = cbxPrinters->currentIndex() >= 0;
    } else {
        switch (cmbEscPosConnection->currentIndex()) {
        case ecUsb:
            ready = !cbxEscPosDevice->currentText().trimmed().isEmpty();
            break;
        case ecNetwork:
            ready = !edtEscPosHost->text().trimmed().isEmpty();
            break;
        case ecCupsRaw:
            ready = cbxEscPosQueue->currentIndex() >= 0;
            break;
        case ecScreen:
            ready = true;
            break;
        default:
            ready = cmbComPort->currentIndex() >= 0;
            break;
        }
    }
    btnOK->setEnabled(ready);
    btnTestPrint->setEnabled(ready);
}

void TfrmPrint::btnTestPrintClick() {
    if (!FormCloseQuery())
        return;
    // The controls become the settings for this one receipt only: the receipt is composed
    // here and now, and what its sending needs is taken with it.
    const PrintSettingsValues saved = PrintSettingsValues::current();
    FormClose();
    try {
        auto document = CreateXMLDocument();
        document->SetAsync(false);
        document->LoadXML(SampleOrderXml());
        const ReceiptStart start = StartOrderReceipt(*document, this);
        saved.apply();
        FTestJob = start.job;
        lblTestResult->setText(start.job
                                   ? QStringLiteral("Пробный чек печатается: %1").arg(start.printer)
                                   : QStringLiteral("Пробный чек открыт в окне просмотра"));
    } catch (const orvanta::Exception& e) {
        saved.apply();
        lblTestResult->setText(QStringLiteral("Пробный чек не напечатан: %1").arg(e.message()));
    } catch (const std::exception& e) {
        saved.apply();
        lblTestResult->setText(
            QStringLiteral("Пробный чек не напечатан: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void TfrmPrint::testPrintFinished(int job, const ReceiptOutcome& outcome) {
    if (job != FTestJob)
        return;
    FTestJob = 0;
    if (!outcome.ok) {
        lblTestResult->setText(
            outcome.cancelled ? QStringLiteral("Пробная печать остановлена")
                              : QStringLiteral("Пробный чек не напечатан: %1").arg(outcome.error));
        return;
    }
    QString text = QStringLiteral("Пробный чек напечатан: %1. Состояние принтера: %2.")
                       .arg(outcome.printer, outcome.status.isEmpty() ? QStringLiteral("неизвестно")
                                                                      : outcome.status);
    if (!outcome.warnings.isEmpty())
        text += QLatin1Char(' ') + outcome.warnings.join(QStringLiteral("; "));
    lblTestResult->setText(text);
}

namespace {

bool executeDialog(QWidget* owner, const QString& iniFileName, bool asOptions) {
    // The owner may be destroyed while the dialog runs (an order window closes at the end
    // of a payment); the dialog goes with it, and nothing of either is touched afterwards.
    QPointer<TfrmPrint> dialog = new TfrmPrint(owner);
    dialog->PrepareForShow();
    if (asOptions) {
        dialog->setWindowTitle(QStringLiteral("Настройка печати"));
        dialog->btnOK->setText(QStringLiteral("OK"));
    }
    // Modal to its owner only: an order window's print dialog must leave the other order
    // windows, the tray and the board usable.
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    if (!dialog)
        return false;
    delete dialog.data();
    if (result != QDialog::Accepted)
        return false;
    SavePrintSettings(iniFileName, kPrintSettingsSection);
    return true;
}

} // namespace

bool ExecutePrintOptions(QWidget* owner, const QString& iniFileName) {
    return executeDialog(owner, iniFileName, true);
}

bool ExecutePrintDialog(QWidget* owner, const QString& iniFileName) {
    return executeDialog(owner, iniFileName, false);
}
