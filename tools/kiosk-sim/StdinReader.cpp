#include "StdinReader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

namespace kiosksim {

StdinReader::StdinReader(QObject* parent)
    : QObject(parent) {
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::onReadable);
}

void StdinReader::onReadable() {
    char chunk[65536];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // End of input, or a terminal we may not read from (started in the background).
        m_notifier->setEnabled(false);
        if (!m_buffer.isEmpty())
            emit lineRead(QString::fromUtf8(m_buffer));
        m_buffer.clear();
        return;
    }
    m_buffer.append(chunk, n);
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        QByteArray line = m_buffer.first(end);
        m_buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        emit lineRead(QString::fromUtf8(line));
    }
}

} // namespace kiosksim
