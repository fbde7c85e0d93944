#include "printing/PrintSettings.h"

#include "common/FormatSettings.h"
#include "core/IniFile.h"

int PrinterType = 3;
QString PrinterName;
QString PrinterFontName = QStringLiteral("Courier New Cyr");
int PrinterFontSize = 8;
int ComPort = 1;
int ComRate = 19200;
QString Code1 = QStringLiteral("<1B>t<07><1B><33><08>");
QString Code2;
QString Code3 = QStringLiteral("<1C>p<01><00>");
QString Code4 = QStringLiteral("<1D>V<42><08>");
bool BarCodeOrder = false;
bool BarCodePrice = false;
int EscPosConnection = ecSerial;
QString EscPosDevice = QStringLiteral("/dev/usb/lp0");
QString EscPosHost;
int EscPosPort = 9100;
QString EscPosQueue;
bool EscPosStatus = true;
bool PrintSettingsConfigured = false;

PrintSettingsValues PrintSettingsValues::current() {
    return {PrinterType,
            PrinterName,
            PrinterFontName,
            PrinterFontSize,
            ComPort,
            ComRate,
            Code1,
            Code2,
            Code3,
            Code4,
            BarCodeOrder,
            BarCodePrice,
            EscPosConnection,
            EscPosDevice,
            EscPosHost,
            EscPosPort,
            EscPosQueue,
            EscPosStatus,
            PrintSettingsConfigured};
}

void PrintSettingsValues::apply() const {
    PrinterType = printerType;
    PrinterName = printerName;
    PrinterFontName = fontName;
    PrinterFontSize = fontSize;
    ComPort = comPort;
    ComRate = comRate;
    Code1 = code1;
    Code2 = code2;
    Code3 = code3;
    Code4 = code4;
    BarCodeOrder = barCodeOrder;
    BarCodePrice = barCodePrice;
    EscPosConnection = connection;
    EscPosDevice = device;
    EscPosHost = host;
    EscPosPort = port;
    EscPosQueue = queue;
    EscPosStatus = askStatus;
    PrintSettingsConfigured = configured;
}

void LoadPrintSettings(const QString& FileName, const QString& Section) {
    const TIniFile ini(FileName);
    PrinterType = ini.ReadInteger(Section, QStringLiteral("PrinterType"), PrinterType);
    PrinterName = ini.ReadString(Section, QStringLiteral("PrinterName"), PrinterName);
    PrinterFontName = ini.ReadString(Section, QStringLiteral("PrinterFontName"), PrinterFontName);
    PrinterFontSize = ini.ReadInteger(Section, QStringLiteral("PrinterFontSize"), PrinterFontSize);
    ComPort = ini.ReadInteger(Section, QStringLiteral("ComPort"), ComPort);
    ComRate = ini.ReadInteger(Section, QStringLiteral("ComRate"), ComRate);
    Code1 = ini.ReadString(Section, QStringLiteral("Code1"), Code1);
    Code2 = ini.ReadString(Section, QStringLiteral("Code2"), Code2);
    Code3 = ini.ReadString(Section, QStringLiteral("Code3"), Code3);
    Code4 = ini.ReadString(Section, QStringLiteral("Code4"), Code4);
    BarCodeOrder = ini.ReadBool(Section, QStringLiteral("BarCodeOrder"), BarCodeOrder);
    BarCodePrice = ini.ReadBool(Section, QStringLiteral("BarCodePrice"), BarCodePrice);
    EscPosConnection =
        ini.ReadInteger(Section, QStringLiteral("EscPosConnection"), EscPosConnection);
    EscPosDevice = ini.ReadString(Section, QStringLiteral("EscPosDevice"), EscPosDevice);
    EscPosHost = ini.ReadString(Section, QStringLiteral("EscPosHost"), EscPosHost);
    EscPosPort = ini.ReadInteger(Section, QStringLiteral("EscPosPort"), EscPosPort);
    EscPosQueue = ini.ReadString(Section, QStringLiteral("EscPosQueue"), EscPosQueue);
    EscPosStatus = ini.ReadBool(Section, QStringLiteral("EscPosStatus"), EscPosStatus);
    if (ini.SectionExists(Section))
        PrintSettingsConfigured = true;
}

void SavePrintSettings(const QString& FileName, const QString& Section) {
    TIniFile ini(FileName);
    ini.WriteInteger(Section, QStringLiteral("PrinterType"), PrinterType);
    ini.WriteString(Section, QStringLiteral("PrinterName"), PrinterName);
    ini.WriteString(Section, QStringLiteral("PrinterFontName"), PrinterFontName);
    ini.WriteInteger(Section, QStringLiteral("PrinterFontSize"), PrinterFontSize);
    ini.WriteInteger(Section, QStringLiteral("ComPort"), ComPort);
    ini.WriteInteger(Section, QStringLiteral("ComRate"), ComRate);
    ini.WriteString(Section, QStringLiteral("Code1"), Code1);
    ini.WriteString(Section, QStringLiteral("Code2"), Code2);
    ini.WriteString(Section, QStringLiteral("Code3"), Code3);
    ini.WriteString(Section, QStringLiteral("Code4"), Code4);
    ini.WriteBool(Section, QStringLiteral("BarCodeOrder"), BarCodeOrder);
    ini.WriteBool(Section, QStringLiteral("BarCodePrice"), BarCodePrice);
    ini.WriteInteger(Section, QStringLiteral("EscPosConnection"), EscPosConnection);
    ini.WriteString(Section, QStringLiteral("EscPosDevice"), EscPosDevice);
    ini.WriteString(Section, QStringLiteral("EscPosHost"), EscPosHost);
    ini.WriteInteger(Section, QStringLiteral("EscPosPort"), EscPosPort);
    ini.WriteString(Section, QStringLiteral("EscPosQueue"), EscPosQueue);
    ini.WriteBool(Section, QStringLiteral("EscPosStatus"), EscPosStatus);
    ini.UpdateFile();
    PrintSettingsConfigured = true;
}

std::optional<QByteArray> DecodeCodeText(QStringView CodeText) {
    QByteArray bytes;
    bytes.reserve(CodeText.size());
    qsizetype i = 0;
    const qsizetype n = CodeText.size();
    while (i < n) {
        const char16_t c = CodeText.at(i++).unicode();
        if (c != u'<') {
            // The texts are ASCII; a character beyond one byte has no byte of its own,
            // and sending some other byte in its place could be any command.
            if (c > 0xFF)
                return std::nullopt;
            bytes.append(static_cast<char>(c));
            continue;
        }
        unsigned value = 0;
        bool closed = false;
        while (i < n && !closed) {
            const char16_t e = CodeText.at(i++).unicode();
            if (const int d = HexDigitValue(e); d >= 0) {
                value = (value << 4) | static_cast<unsigned>(d); // only the low byte counts
            } else if (e == u'>') {
                bytes.append(static_cast<char>(value & 0xFF));
                closed = true;
            } else if (e == u'<') {
                bytes.append('<');
                closed = true;
            } else {
                return std::nullopt;
            }
        }
    }
    return bytes;
}
