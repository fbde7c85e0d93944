#pragma once

#include "journal/JournalRecord.h"

#include <QDateTime>
#include <QString>

#include <optional>

// Where the previous page ended: the last row's opening time and id. Rows come newest
// first, and (opened, id) orders them even when two windows opened in the same
// millisecond, so a page goes on exactly after the last row the caller saw, whatever
// was written in the meantime.
struct JournalCursor {
    qint64 openedMs = 0;
    qint64 id = 0;
};

// Which orders to read: those opened in [from, to), of one kiosk or all (empty), of
// one decision or all.
struct JournalQuery {
    QDateTime from;
    QDateTime to;
    QString kiosk;
    std::optional<JournalDecision> decision;
    std::optional<JournalCursor> after; // the next page starts after this row
};
