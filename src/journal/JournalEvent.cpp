#include "journal/JournalEvent.h"

QString journalEventWord(JournalEventKind kind) {
    switch (kind) {
    case JournalEventKind::Connected:
        return QStringLiteral("connected");
    case JournalEventKind::Lost:
        return QStringLiteral("lost");
    case JournalEventKind::Refused:
        return QStringLiteral("refused");
    }
    return QStringLiteral("connected");
}

std::optional<JournalEventKind> journalEventFromWord(const QString& word) {
    for (JournalEventKind kind :
         {JournalEventKind::Connected, JournalEventKind::Lost, JournalEventKind::Refused})
        if (journalEventWord(kind) == word)
            return kind;
    return std::nullopt;
}
