#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

// The print settings: which receipt printer prints and how. Process-wide, read by the
// printers at the moment they print, so a change takes effect with the next receipt.
extern int PrinterType;         // 0 the page printer, 3 the ESC/POS printer on a serial port
extern QString PrinterName;     // name of the page printer
extern QString PrinterFontName; // face of the receipt font
extern int PrinterFontSize;     // points; the order line and the total print 2 points larger
extern int ComPort;             // n of COMn for the ESC/POS printer
extern int ComRate;             // baud rate of that port
extern QString Code1;           // control codes at the start of a job
extern QString Code2;           // control codes at the end of a job
extern QString Code3;           // control codes that print the logo
extern QString Code4;           // control codes that cut the paper
extern bool BarCodeOrder;       // order number as a barcode in the header
extern bool BarCodePrice;       // total price as a barcode after the total

// How the bytes of the ESC/POS printer leave; the stream itself never depends on it.
enum TEscPosConnection : int {
    ecSerial = 0,  // the serial port ComPort at ComRate
    ecUsb = 1,     // the printer's device file (EscPosDevice), as the usblp driver makes it
    ecNetwork = 2, // raw TCP to EscPosHost:EscPosPort
    ecCupsRaw = 3, // a job of raw bytes on the CUPS queue EscPosQueue
    ecScreen = 4,  // nothing is sent: the receipt is shown in a preview window
};
extern int EscPosConnection; // a TEscPosConnection; any other value is taken as ecSerial
extern QString EscPosDevice; // device file of the USB printer
extern QString EscPosHost;   // address of the network printer
extern int EscPosPort;       // its raw port
extern QString EscPosQueue;  // CUPS queue that takes the stream raw
extern bool EscPosStatus;    // ask a printer that answers for its status around each receipt

// Whether the configuration file has ever held a print settings section (or they were
// saved in this run). Until it has, the console has no printer it may print to: the
// defaults name a serial port that exists on most machines with nothing attached.
extern bool PrintSettingsConfigured;

// All print settings as one value: taken, applied again, compared. A test print uses it to
// print with the settings as they stand in the dialog and put the saved ones back.
struct PrintSettingsValues {
    int printerType;
    QString printerName, fontName;
    int fontSize, comPort, comRate;
    QString code1, code2, code3, code4;
    bool barCodeOrder, barCodePrice;
    int connection;
    QString device, host;
    int port;
    QString queue;
    bool askStatus, configured;

    static PrintSettingsValues current();
    void apply() const;
    bool operator==(const PrintSettingsValues&) const = default;
};

// The section of the configuration file that holds the print settings.
inline const QString kPrintSettingsSection = QStringLiteral("Printing");

// Reads the twelve keys of Section, then the connection keys of the ESC/POS printer; a
// missing key, or an integer or boolean that does not read as a number, keeps the value
// the setting has. Sets PrintSettingsConfigured when the file has the section.
void LoadPrintSettings(const QString& FileName, const QString& Section);

// Writes the twelve keys of Section, then the connection keys, and saves the file. Throws
// orvanta::Exception when the file cannot be written.
void SavePrintSettings(const QString& FileName, const QString& Section);

// Turns a control-code text such as "<1B>t<07>" into its bytes: hexadecimal numbers in
// angle brackets are bytes, "<<" is a "<", every other character is its own code. An
// empty optional means the text is rejected and nothing of it may be sent: a character
// inside brackets that is neither a hexadecimal digit, "<" nor ">", or a character that
// does not fit in one byte. An escape still open at the end is dropped.
std::optional<QByteArray> DecodeCodeText(QStringView CodeText);
