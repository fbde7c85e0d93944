#include "printing/PrintDialog.h"

#include "common/GlobConst.h"
#include "platform/SerialPort.h"
#include "platform/Spooler.h"
#include "printing/PrintSettings.h"
#include "printing/WindowsPrinter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
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
    windowsGrid->setColumnStretch(1, 1);
    driverStack->addWidget(gbxWindowsDriver);

    gbxPOSDriver =
        named(new QGroupBox(QStringLiteral(" Порт "), driverPlace), QStringLiteral("gbxPOSDriver"));
    auto* posGrid = new QGridLayout(gbxPOSDriver);
    lblComPort = makeLabel(QStringLiteral("lblComPort"),
                           QStringLiteral("Номер коммуникационного порта:"), gbxPOSDriver);
    cmbComPort = named(new QComboBox(gbxPOSDriver), QStringLiteral("cmbComPort"));
    lblComRate = makeLabel(QStringLiteral("lblComRate"),
                           QStringLiteral("Скорость передачи данных:"), gbxPOSDriver);
    cmbComRate = named(new QComboBox(gbxPOSDriver), QStringLiteral("cmbComRate"));
    for (int rate : kComRates)
        cmbComRate->addItem(QString::number(rate));
    lblComPort->setBuddy(cmbComPort);
    lblComRate->setBuddy(cmbComRate);
    posGrid->addWidget(lblComPort, 0, 0);
    posGrid->addWidget(cmbComPort, 0, 1);
    posGrid->addWidget(lblComRate, 1, 0);
    posGrid->addWidget(cmbComRate, 1, 1);
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
    buttons->addStretch(1);
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

    setFixedSize(540, 440);
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
    cbxFontName->addItems(QFontDatabase::families());
}

void TfrmPrint::PrepareForShow() {
    cmbDriverType->setCurrentIndex(PrinterType == 3 ? 1 : 0);
    cmbDriverTypeChange();

    cbxPrinters->clear();
    cbxPrinters->addItems(orvanta::InstalledPrinters());
    cbxPrinters->setCurrentIndex(cbxPrinters->findText(PrinterName));
    cbxPrintersChange();

    cbxFontName->setCurrentIndex(cbxFontName->findText(PrinterFontName));
    cbxFontSize->setEditText(QString::number(PrinterFontSize));
    cmbComPort->setCurrentIndex(cmbComPort->findData(ComPort));

    const auto rate = std::find(kComRates.begin(), kComRates.end(), ComRate);
    cmbComRate->setCurrentIndex(rate == kComRates.end() ? 0 : int(rate - kComRates.begin()));

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
}

void TfrmPrint::cmbDriverTypeChange() {
    gbxWindowsDriver->setVisible(cmbDriverType->currentIndex() == 0);
    gbxPOSDriver->setVisible(cmbDriverType->currentIndex() == 1);
}

void TfrmPrint::cbxPrintersChange() {
    UpdateOKButton();
}

void TfrmPrint::UpdateOKButton() {
    btnOK->setEnabled(cbxPrinters->currentIndex() >= 0);
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
