#include "printing/PrinterStatus.h"

#include "printing/EscPosConnections.h"

#include <QHash>

#include <mutex>

namespace {

// Unanswered queries in a row, per printer: the print command and the worker that sends
// receipts both ask.
struct Memo {
    std::mutex mutex;
    QHash<QString, int> misses;
};

Memo& memo() {
    static Memo m;
    return m;
}

} // namespace

std::optional<EscPosPrinterStatus>
EscPosPrinterStatus::fromAnswers(quint8 printer, quint8 offlineCause, quint8 paper) {
    if (!isStatusByte(printer) || !isStatusByte(offlineCause) || !isStatusByte(paper))
        return std::nullopt;
    EscPosPrinterStatus s;
    s.answered = true;
    s.offline = printer & 0x08;
    s.coverOpen = offlineCause & 0x04;
    s.paperOut = (offlineCause & 0x20) || (paper & 0x60);
    s.error = offlineCause & 0x40;
    s.paperNearEnd = paper & 0x0C;
    return s;
}

QString EscPosPrinterStatus::problem() const {
    if (!answered)
        return {};
    // A printer out of paper or with the cover open is offline too; the cause says more.
    if (paperOut)
        return QStringLiteral("нет бумаги");
    if (coverOpen)
        return QStringLiteral("открыта крышка");
    if (offline)
        return QStringLiteral("не в сети");
    if (error)
        return QStringLiteral("ошибка принтера");
    if (paperNearEnd)
        return QStringLiteral("бумага заканчивается");
    return {};
}

QString EscPosPrinterStatus::words() const {
    if (!answered)
        return QStringLiteral("состояние неизвестно");
    const QString p = problem();
    return p.isEmpty() ? QStringLiteral("в порядке") : p;
}

bool escPosStatusGivenUp(const QString& key) {
    Memo& m = memo();
    std::lock_guard lock(m.mutex);
    return m.misses.value(key) >= EscPosPrinterStatus::kMissesBeforeGivingUp;
}

EscPosPrinterStatus queryEscPosStatus(EscPosOutput& output, const QString& key) {
    if (!output.bidirectional() || !output.isOpen() || escPosStatusGivenUp(key))
        return {};
    quint8 answers[3] = {};
    const char kinds[3] = {1, 2, 4};
    bool all = true;
    for (int i = 0; i < 3 && all; ++i) {
        const char request[3] = {0x10, 0x04, kinds[i]};
        const std::optional<quint8> answer =
            output.exchange(QByteArrayView(request, 3), EscPosPrinterStatus::kAnswerTimeoutMs);
        all = answer.has_value();
        if (all)
            answers[i] = *answer;
    }
    std::optional<EscPosPrinterStatus> status;
    if (all)
        status = EscPosPrinterStatus::fromAnswers(answers[0], answers[1], answers[2]);
    Memo& m = memo();
    std::lock_guard lock(m.mutex);
    if (status) {
        m.misses.remove(key);
        return *status;
    }
    ++m.misses[key];
    return {};
}
