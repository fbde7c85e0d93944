#include "journal/JournalCsv.h"

#include "journal/JournalReader.h"

#include <cstdio>
#include <ctime>

namespace {

// Local time with its offset: the file says when in the venue's own time, and stays
// unambiguous across a change to or from summer time. The C library's localtime_r reads
// the zone once (tzset at the start of a file); QDateTime's own conversion looked at
// /etc/localtime again for every time, which was most of the cost of a year's CSV.
void appendIsoLocal(QByteArray& out, const QDateTime& time) {
    const qint64 ms = time.toMSecsSinceEpoch();
    // Whole seconds, rounded down also before 1970.
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm tm{};
    if (!localtime_r(&seconds, &tm)) {
        out += time.toString(Qt::ISODate).toUtf8();
        return;
    }
    const long offset = tm.tm_gmtoff;
    const long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
    char text[40];
    const int n =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                      tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec, offset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    out.append(text, n);
}

void appendField(QByteArray& out, const QString& text) {
    out += JournalCsv::field(text);
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
    QByteArray out;
    out.reserve(128);
    appendIsoLocal(out, r.opened);
    out += ',';
    appendField(out, r.kiosk);
    out += ',';
    appendField(out, r.orderName);
    out += ',';
    out += QByteArray::number(r.sum, 'f', 2);
    out += ',';
    out += journalDecisionWord(r.decision).toUtf8();
    out += ',';
    if (!open && r.decided.isValid())
        appendIsoLocal(out, r.decided);
    out += ',';
    if (!open && r.waitSeconds >= 0)
        out += QByteArray::number(r.waitSeconds, 'f', 2);
    out += ',';
    out += QByteArray::number(r.printedCount);
    return out + QByteArrayLiteral("\r\n");
}

bool JournalCsv::write(JournalReader& reader, const JournalQuery& query, QIODevice& out,
                       const Progress& progress) {
    tzset(); // the zone as it is now, read once for the whole file
    if (out.write(header()) < 0)
        return false;
    bool written = true;
    bool stopped = false;
    qint64 rows = 0;
    const auto goOn = [&](qint64 rowsSoFar) {
        // A device that failed ends the reading too: the rest would go nowhere.
        stopped = !progress(rowsSoFar);
        return written && !stopped;
    };
    const bool read = reader.forEach(
        query,
        [&](const JournalRecord& r) {
            if (written && out.write(line(r)) < 0)
                written = false;
            ++rows;
        },
        progress ? std::function<bool(qint64)>(goOn) : std::function<bool(qint64)>());
    if (read && written && !stopped && progress)
        stopped = !progress(rows);
    return read && written && !stopped;
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
