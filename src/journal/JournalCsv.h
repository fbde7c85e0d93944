#pragma once

#include "journal/JournalQuery.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

class JournalReader;

// The journal as a CSV file for a spreadsheet or the accountant: one line per order,
// newest first, RFC 4180 (CRLF line ends, quotes where a field needs them), UTF-8.
class JournalCsv {
public:
    static QByteArray header();
    // The line of one order, with its CRLF.
    static QByteArray line(const JournalRecord& record);
    static QByteArray field(const QString& text);

    // Writes the header and every order of the query. False when reading or writing
    // failed; the reason is in the reader's lastError or the device's errorString.
    static bool write(JournalReader& reader, const JournalQuery& query, QIODevice& out);
};
