#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QWidget;
struct ReceiptOutcome;

// The print settings dialog: which receipt printer prints (a page printer of the print
// server with its font, or an ESC/POS printer with its port and speed), the four
// control-code texts and the two barcodes. It edits the print settings in memory on OK;
// saving them is the caller's step. Made for one showing: PrepareForShow, exec, destroy.
class TfrmPrint : public QDialog {
    Q_OBJECT

public:
    explicit TfrmPrint(QWidget* parent = nullptr);
    ~TfrmPrint() override;

    // Loads the current print settings into the controls.
    void PrepareForShow();

    void done(int result) override;

    QLabel* lblDriverType = nullptr;
    QComboBox* cmbDriverType = nullptr;
    QGroupBox* gbxWindowsDriver = nullptr;
    QLabel* lblPrinters = nullptr;
    QComboBox* cbxPrinters = nullptr;
    QLabel* lblFontName = nullptr;
    QComboBox* cbxFontName = nullptr;
    QLabel* lblFontSize = nullptr;
    QComboBox* cbxFontSize = nullptr;
    QGroupBox* gbxPOSDriver = nullptr;
    QLabel* lblComPort = nullptr;
    QComboBox* cmbComPort = nullptr;
    QLabel* lblComRate = nullptr;
    QComboBox* cmbComRate = nullptr;
    // How the ESC/POS printer is connected, and the fields of each way.
    QLabel* lblEscPosConnection = nullptr;
    QComboBox* cmbEscPosConnection = nullptr;
    QStackedWidget* stkEscPosConnection = nullptr;
    QLabel* lblEscPosDevice = nullptr;
    QComboBox* cbxEscPosDevice = nullptr; // editable: the device files found, or any path
    QLabel* lblEscPosHost = nullptr;
    QLineEdit* edtEscPosHost = nullptr;
    QLabel* lblEscPosPort = nullptr;
    QSpinBox* spnEscPosPort = nullptr;
    QLabel* lblEscPosQueue = nullptr;
    QComboBox* cbxEscPosQueue = nullptr;
    QLabel* lblEscPosScreen = nullptr;
    QCheckBox* cbxEscPosStatus = nullptr;
    QLabel* lblFontNote = nullptr; // the configured font is missing and what stands in for it
    QGroupBox* gbxESCCodes = nullptr;
    QLabel* lblESCCode1 = nullptr;
    QLineEdit* edtESCCode1 = nullptr;
    QLabel* lblESCCode2 = nullptr;
    QLineEdit* edtESCCode2 = nullptr;
    QLabel* lblESCCode3 = nullptr;
    QLineEdit* edtESCCode3 = nullptr;
    QLabel* lblESCCode4 = nullptr;
    QLineEdit* edtESCCode4 = nullptr;
    QCheckBox* cbxBarCodeOrderName = nullptr;
    QCheckBox* cbxBarCodePrice = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnTestPrint = nullptr; // the sample order with the settings as they stand
    QLabel* lblTestResult = nullptr;

    // The items of cmbEscPosConnection, in the order of the EscPosConnection values.
    static QStringList connectionNames();
    // The device files of USB printers on this machine (/dev/usb/lp*).
    static QStringList usbPrinterDevices();
    // Prints the sample order with the settings of the controls, without keeping them.
    void btnTestPrintClick();

private:
    void FormCreate();
    bool FormCloseQuery();
    void FormClose();
    void cmbDriverTypeChange();
    void cbxPrintersChange();
    void UpdateOKButton();
    void testPrintFinished(int job, const ReceiptOutcome& outcome);

    QList<QIcon> ImageList1;
    int FTestJob = 0;
};

// The printer settings command of the main window: the dialog titled "Настройка печати"
// with an "OK" button; on OK the settings are saved to iniFileName, section "Printing".
// Returns whether the operator confirmed. Throws orvanta::Exception when saving fails.
bool ExecutePrintOptions(QWidget* owner, const QString& iniFileName);

// The dialog the print command opens when it has no usable printer, with its own captions
// ("Печать"); on OK the settings are saved as above. Returns false on Cancel, and also when
// owner was destroyed while the dialog was open (then nothing is saved and the caller
// must not touch owner either).
bool ExecutePrintDialog(QWidget* owner, const QString& iniFileName);
