#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace kiosksim {

// Reads standard input from the event loop and hands out whole lines (a CR before the
// LF is dropped). The end of input only stops the reading.
class StdinReader : public QObject {
    Q_OBJECT
public:
    explicit StdinReader(QObject* parent = nullptr);

signals:
    void lineRead(const QString& line);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_buffer;
};

} // namespace kiosksim
