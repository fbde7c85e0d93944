#pragma once

// The print settings as one value, for tests that change them: taken, compared,
// applied, and put back with the data folder when a test's scope ends.
#include "common/GlobConst.h"
#include "printing/PrintSettings.h"

#include <ostream>

namespace testutil {

using PrintSettingsSnapshot = PrintSettingsValues;

} // namespace testutil

// Found by GoogleTest through the value's own namespace.
inline void PrintTo(const PrintSettingsValues& s, std::ostream* os) {
    *os << s.printerType << " '" << s.printerName.toStdString() << "' '" << s.fontName.toStdString()
        << "' " << s.fontSize << " COM" << s.comPort << " " << s.comRate << " '"
        << s.code1.toStdString() << "' '" << s.code2.toStdString() << "' '" << s.code3.toStdString()
        << "' '" << s.code4.toStdString() << "' " << s.barCodeOrder << s.barCodePrice << " via "
        << s.connection << " '" << s.device.toStdString() << "' '" << s.host.toStdString()
        << "':" << s.port << " '" << s.queue.toStdString() << "' status " << s.askStatus
        << " configured " << s.configured;
}

namespace testutil {

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
