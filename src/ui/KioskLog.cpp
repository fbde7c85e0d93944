#include "ui/KioskLog.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

TKioskLog::TKioskLog(QPlainTextEdit* view, QComboBox* filter, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_filter(filter)
    , m_flushTimer(new QTimer(this)) {
    m_view->setReadOnly(true);
    m_view->setMaximumBlockCount(kMaxLines);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(kFlushMs);
    connect(m_flushTimer, &QTimer::timeout, this, &TKioskLog::flush);
    m_filter->addItem(QStringLiteral("Все киоски"));
    connect(m_filter, &QComboBox::currentIndexChanged, this, &TKioskLog::Rebuild);
}

QString TKioskLog::Format(const QTime& time, const QString& kiosk, const QString& line) {
    return time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  ") + kiosk +
           QStringLiteral("  ") + line;
}

bool TKioskLog::passes(const Entry& entry) const {
    return m_filter->currentIndex() <= 0 || entry.kiosk == m_filter->currentText();
}

void TKioskLog::Add(const QString& kiosk, const QString& line) {
    if (m_lines.size() >= kMaxLines)
        m_lines.pop_front();
    m_lines.push_back({QTime::currentTime(), kiosk, line});
    const Entry& entry = m_lines.back();
    if (!m_view->isVisible() || !passes(entry))
        return;
    m_pending.append(Format(entry.time, entry.kiosk, entry.line));
    if (m_pending.size() > kMaxLines)
        m_pending.removeFirst();
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void TKioskLog::SetKiosks(const QStringList& names) {
    const QString current = m_filter->currentIndex() > 0 ? m_filter->currentText() : QString();
    QSignalBlocker block(m_filter);
    while (m_filter->count() > 1)
        m_filter->removeItem(1);
    m_filter->addItems(names);
    const int index = current.isEmpty() ? 0 : m_filter->findText(current);
    m_filter->setCurrentIndex(index < 0 ? 0 : index);
    if (index < 0)
        Rebuild();
}

void TKioskLog::Rebuild() {
    m_pending.clear();
    m_flushTimer->stop();
    QStringList text;
    for (const Entry& entry : m_lines)
        if (passes(entry))
            text.append(Format(entry.time, entry.kiosk, entry.line));
    m_view->setPlainText(text.join(QLatin1Char('\n')));
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

void TKioskLog::flush() {
    if (m_pending.isEmpty())
        return;
    // Follow the end only when the operator is at the end, not while reading above.
    QScrollBar* bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    m_view->appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
    if (atEnd)
        bar->setValue(bar->maximum());
}
