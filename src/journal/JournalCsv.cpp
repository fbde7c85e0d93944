#include "journal/JournalCsv.h"

#include "journal/JournalReader.h"

namespace {

// Local time with its offset: the file says when in the venue's own time, and stays
// unambiguous across a change to or from summer time.
QString isoLocal(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

QByteArray JournalCsv::header() {
    return QByteArrayLiteral("opened,kiosk,order,sum,decision,decided,wait_s,prints\r\n");
}

QByteArray JournalCsv::field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', QByteArrayLiteral("\"\""));
    return '"' + bytes + '"';
}

QByteArray JournalCsv::line(const JournalRecord& r) {
    const bool open = r.decision == JournalDecision::Open;
    const QStringList fields{
        isoLocal(r.opened),
        r.kiosk,
        r.orderName,
        QString::number(r.sum, 'f', 2),
        journalDecisionWord(r.decision),
        open || !r.decided.isValid() ? QString() : isoLocal(r.decided),
        open || r.waitSeconds < 0 ? QString() : QString::number(r.waitSeconds, 'f', 2),
        QString::number(r.printedCount),
    };
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        out += field(fields[i]);
    }
    return out + QByteArrayLiteral("\r\n");
}

bool JournalCsv::write(JournalReader& reader, const JournalQuery& query, QIODevice& out) {
    if (out.write(header()) < 0)
        return false;
    bool written = true;
    const bool read = reader.forEach(query, [&](const JournalRecord& r) {
        if (written && out.write(line(r)) < 0)
            written = false;
    });
    return read && written;
}

namespace {

constexpr JournalDecision kSummaryDecisions[] = {
    JournalDecision::Confirmed, JournalDecision::Cancelled, JournalDecision::Returned,
    JournalDecision::Ended,     JournalDecision::Closed,    JournalDecision::Open};

QString money(double value) {
    return QString::number(value, 'f', 2);
}

} // namespace

QByteArray JournalCsv::summaryHeader() {
    QByteArray out = QByteArrayLiteral("kiosk,orders,sum");
    for (const JournalDecision d : kSummaryDecisions) {
        const QByteArray word = journalDecisionWord(d).toUtf8();
        out += ',' + word + ',' + word + QByteArrayLiteral("_sum");
    }
    return out + QByteArrayLiteral(",median_wait_s,longest_wait_s,availability_pct\r\n");
}

QByteArray JournalCsv::summaryLine(const JournalTotals& t) {
    QStringList fields{t.kiosk.isEmpty() ? QStringLiteral("Все киоски") : t.kiosk,
                       QString::number(t.count), money(t.sum)};
    for (const JournalDecision d : kSummaryDecisions) {
        const auto it = t.byDecision.find(d);
        const JournalDecisionTotal total =
            it == t.byDecision.end() ? JournalDecisionTotal{} : it->second;
        fields << QString::number(total.count) << money(total.sum);
    }
    fields << (t.decided > 0 ? money(t.medianWait) : QString())
           << (t.decided > 0 ? money(t.longestWait) : QString())
           << (t.availability >= 0 ? money(t.availability * 100) : QString());
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        out += field(fields[i]);
    }
    return out + QByteArrayLiteral("\r\n");
}

bool JournalCsv::writeSummary(JournalReader& reader, const QDateTime& from, const QDateTime& to,
                              QIODevice& out) {
    if (!reader.open())
        return false;
    const JournalSummary summary = reader.totals(from, to);
    if (!reader.lastError().isEmpty())
        return false;
    QByteArray text = summaryHeader();
    for (const JournalTotals& t : summary.kiosks)
        text += summaryLine(t);
    text += summaryLine(summary.all);
    return out.write(text) == text.size();
}
