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
