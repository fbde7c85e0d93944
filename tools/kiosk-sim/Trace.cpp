#include "Trace.h"

#include <QTime>

#include <cstdio>

namespace kiosksim {

bool Trace::openLog(const QString& fileName, QString* error) {
    m_log.setFileName(fileName);
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = m_log.errorString();
        return false;
    }
    return true;
}

void Trace::traffic(int kiosk, const QString& text) {
    if (!m_quiet)
        event(kiosk, text);
}

void Trace::event(int kiosk, const QString& text) {
    write(QStringLiteral("[%1] %2").arg(kiosk).arg(text));
}

void Trace::message(const QString& text) {
    write(text);
}

void Trace::write(const QString& line) {
    const QByteArray bytes =
        (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line + QLatin1Char('\n'))
            .toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    if (m_log.isOpen()) {
        m_log.write(bytes);
        m_log.flush();
    }
}

} // namespace kiosksim
