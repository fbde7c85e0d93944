#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

enum class JournalEventKind { Connected, Lost, Refused };

QString journalEventWord(JournalEventKind kind);
std::optional<JournalEventKind> journalEventFromWord(const QString& word);

// A kiosk connection event: the connection came up, was lost, or was refused.
struct JournalEvent {
    QDateTime at;
    QString kiosk;
    JournalEventKind kind = JournalEventKind::Connected;
    QString text;
};
