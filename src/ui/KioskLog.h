#pragma once

#include <QObject>
#include <QString>
#include <QTime>

#include <deque>

class QComboBox;
class QPlainTextEdit;
class QTimer;

// The main window's "Лог работы": the last kMaxLines trace lines of all kiosks with the
// time they arrived, shown for all kiosks or one. Lines are kept in a ring whatever is
// shown; the view is written only while it is visible, in batches a few times a second,
// so a thousand quiet kiosks cost no painting while the operator looks elsewhere.
class TKioskLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kFlushMs = 250;

    TKioskLog(QPlainTextEdit* view, QComboBox* filter, QObject* parent = nullptr);

    void Add(const QString& kiosk, const QString& line);
    // The kiosk names the filter offers, after "Все киоски"; keeps the current choice.
    void SetKiosks(const QStringList& names);
    // Shows the kept lines that pass the filter; called when the view becomes visible.
    void Rebuild();

    int Count() const { return static_cast<int>(m_lines.size()); }
    // The text a kept line shows as: "hh:mm:ss.zzz  kiosk  line".
    static QString Format(const QTime& time, const QString& kiosk, const QString& line);

private:
    struct Entry {
        QTime time;
        QString kiosk;
        QString line;
    };
    bool passes(const Entry& entry) const;
    void flush();

    QPlainTextEdit* m_view;
    QComboBox* m_filter;
    QTimer* m_flushTimer;
    std::deque<Entry> m_lines;
    QStringList m_pending;
};
