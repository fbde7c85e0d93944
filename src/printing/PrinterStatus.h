#pragma once

#include <QString>

#include <optional>

class EscPosOutput;

// What an ESC/POS printer says of itself when asked with DLE EOT 1 (printer), 2 (cause
// of being offline) and 4 (paper roll sensors), one status byte for each.
struct EscPosPrinterStatus {
    static constexpr int kAnswerTimeoutMs = 500;
    // Unanswered queries in a row after which a printer is no longer asked.
    static constexpr int kMissesBeforeGivingUp = 2;

    bool answered = false; // false: nothing is known, every flag below is false
    bool offline = false;
    bool coverOpen = false;
    bool paperOut = false;
    bool paperNearEnd = false;
    bool error = false;

    // A byte of a DLE EOT answer has bit 0 clear, bit 1 set, bit 4 set and bit 7 clear;
    // anything else is no answer to the query (an echo, a stray byte of another kind).
    static bool isStatusByte(quint8 byte) { return (byte & 0x93) == 0x12; }
    // The status of the answers to DLE EOT 1, 2 and 4; empty when one is no status byte.
    static std::optional<EscPosPrinterStatus> fromAnswers(quint8 printer, quint8 offlineCause,
                                                          quint8 paper);

    // Printing now would lose the receipt: out of paper, cover open or offline.
    bool blocksPrinting() const { return answered && (paperOut || coverOpen || offline); }
    // The gravest problem in words ("нет бумаги", "открыта крышка", "не в сети", "ошибка
    // принтера", "бумага заканчивается"); empty when there is none or nothing is known.
    QString problem() const;
    // The state in words for the operator: problem(), "в порядке" or "состояние неизвестно".
    QString words() const;
};

// Asks the printer behind output (open, bidirectional) for its status; key names that
// printer (EscPosOutput::statusKey). A printer that leaves a query unanswered for
// kAnswerTimeoutMs is of unknown status; after kMissesBeforeGivingUp such queries in a
// row it is not asked again in this process (it cannot answer, and every receipt would
// wait for it). Any thread.
EscPosPrinterStatus queryEscPosStatus(EscPosOutput& output, const QString& key);

// Whether the printer of key is no longer asked. Any thread.
bool escPosStatusGivenUp(const QString& key);
