#pragma once

#include "journal/JournalQuery.h"
#include "journal/JournalTotals.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

class JournalReader;

// The journal as a CSV file for a spreadsheet or the accountant: one line per order,
// newest first, RFC 4180 (CRLF line ends, quotes where a field needs them), UTF-8.
class JournalCsv {
public:
    static QByteArray header();
    // The line of one order, with its CRLF.
    static QByteArray line(const JournalRecord& record);
    static QByteArray field(const QString& text);

    // Told the orders written so far every JournalReader::kEachStep orders and once after
    // the last; false stops the writing.
    using Progress = std::function<bool(qint64 rowsSoFar)>;

    // Writes the header and every order of the query. False when reading or writing
    // failed; the reason is in the reader's lastError or the device's errorString. False
    // also when progress stopped it: what was written is not the whole file.
    static bool write(JournalReader& reader, const JournalQuery& query, QIODevice& out,
                      const Progress& progress = {});

    // The totals of a period: one line per kiosk, then "Все киоски". Counts and sums by
    // decision, the median and longest wait in seconds (empty when nothing was decided),
    // and the availability in percent (empty when no connection event tells).
    static QByteArray summaryHeader();
    static QByteArray summaryLine(const JournalTotals& totals);
    static bool writeSummary(JournalReader& reader, const QDateTime& from, const QDateTime& to,
                             QIODevice& out);
};
