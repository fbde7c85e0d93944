#pragma once

// The print settings as one value, for tests that change them: taken, compared,
// applied, and put back with the data folder when a test's scope ends.
#include "common/GlobConst.h"
#include "printing/PrintSettings.h"

#include <ostream>

namespace testutil {

struct PrintSettingsSnapshot {
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

    static PrintSettingsSnapshot current() {
        return {PrinterType,      PrinterName,   PrinterFontName, PrinterFontSize,
                ComPort,          ComRate,       Code1,           Code2,
                Code3,            Code4,         BarCodeOrder,    BarCodePrice,
                EscPosConnection, EscPosDevice,  EscPosHost,      EscPosPort,
                EscPosQueue,      EscPosStatus,  PrintSettingsConfigured};
    }
    void apply() const {
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
    bool operator==(const PrintSettingsSnapshot&) const = default;
};

inline void PrintTo(const PrintSettingsSnapshot& s, std::ostream* os) {
    *os << s.printerType << " '" << s.printerName.toStdString() << "' '" << s.fontName.toStdString()
        << "' " << s.fontSize << " COM" << s.comPort << " " << s.comRate << " '"
        << s.code1.toStdString() << "' '" << s.code2.toStdString() << "' '" << s.code3.toStdString()
        << "' '" << s.code4.toStdString() << "' " << s.barCodeOrder << s.barCodePrice << " via "
        << s.connection << " '" << s.device.toStdString() << "' '" << s.host.toStdString() << "':"
        << s.port << " '" << s.queue.toStdString() << "' status " << s.askStatus << " configured "
        << s.configured;
}

// Puts the print settings and the data folder back, so that tests do not leak into
// each other.
class SavedPrintSettings {
public:
    SavedPrintSettings() = default;
    SavedPrintSettings(const SavedPrintSettings&) = delete;
    SavedPrintSettings& operator=(const SavedPrintSettings&) = delete;
    ~SavedPrintSettings() {
        m_settings.apply();
        DataFolder = m_dataFolder;
    }

private:
    PrintSettingsSnapshot m_settings = PrintSettingsSnapshot::current();
    QString m_dataFolder = DataFolder;
};

} // namespace testutil
