#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What became of an order window. Open while the window is still on the screen, so a
// console that ends without a decision leaves its orders open, never missing.
enum class JournalDecision { Open, Confirmed, Cancelled, Returned, Ended, Closed };

// The words the file and the CSV use: "open", "confirmed", ...
QString journalDecisionWord(JournalDecision decision);
std::optional<JournalDecision> journalDecisionFromWord(const QString& word);

// One print of an order's receipt: what was asked of which printer and how it went.
struct JournalPrint {
    QDateTime at;
    int printerType = 0;
    QString connection; // the printer's connection in words ("192.168.0.40:9100", "COM1")
    bool printed = false;
    QString outcome; // empty when printed; the error text otherwise
};

// One order window as the journal keeps it. Kiosk name and address are those of the
// moment the window opened; a kiosk renamed later does not rewrite its history.
struct JournalRecord {
    qint64 id = 0; // the row in the file; 0 until read back
    QString console;
    QString kiosk;
    QString address;
    QDateTime opened;
    double sum = 0;
    QString orderName;
    QString invoice;
    QString document;
    JournalDecision decision = JournalDecision::Open;
    QDateTime decided;       // invalid while open
    double waitSeconds = -1; // below 0 while open
    QList<JournalPrint> prints;
    int printedCount = 0; // receipts that came out, filled by the reader
};
