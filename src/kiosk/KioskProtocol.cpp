#include "kiosk/KioskProtocol.h"

#include "common/FormatSettings.h"
#include "platform/Error.h"

#include <QStringDecoder>

#include <cstring>

QByteArray KioskCommandWord(TKioskCommand command) {
    switch (command) {
    case kcGetVersion:
        return QByteArrayLiteral("GET_VERSION");
    case kcGetWorkState:
        return QByteArrayLiteral("GET_WORK_STATE");
    case kcConfirmOrder:
        return QByteArrayLiteral("ORDER_CONFIRM");
    case kcCancelOrder:
        return QByteArrayLiteral("ORDER_CANCEL");
    case kcReturnToOrder:
        return QByteArrayLiteral("ORDER_RETURN");
    case kcGetInvoice:
        return QByteArrayLiteral("GET_INVOICE");
    case kcGetXMLInvoice:
        return QByteArrayLiteral("GET_XMLINVOICE");
    case kcKeepAlive:
        return QByteArrayLiteral("KEEP_ALIVE");
    case kcNone:
        break;
    }
    return {};
}

TKioskLine MatchKioskLine(const QString& line) {
    struct Key {
        QLatin1String prefix;
        TKioskLineKind kind;
    };
    static const Key keys[] = {
        {QLatin1String("VERSION="), TKioskLineKind::Version},
        {QLatin1String("ORDER_SUM="), TKioskLineKind::OrderSum},
        {QLatin1String("ORDER_XML="), TKioskLineKind::OrderXml},
        {QLatin1String("INVOICE="), TKioskLineKind::Invoice},
    };
    for (const Key& key : keys)
        if (line.startsWith(key.prefix, Qt::CaseInsensitive))
            return {key.kind, line.mid(key.prefix.size())};

    static const Key words[] = {
        {QLatin1String("PAY_BLOCK"), TKioskLineKind::PayBlock},
        {QLatin1String("PAY_END"), TKioskLineKind::PayEnd},
        {QLatin1String("SESSION_START"), TKioskLineKind::SessionStart},
        {QLatin1String("SESSION_STOP"), TKioskLineKind::SessionStop},
        {QLatin1String("ORDERING_FINISH"), TKioskLineKind::OrderingFinish},
    };
    for (const Key& word : words)
        if (line.compare(word.prefix, Qt::CaseInsensitive) == 0)
            return {word.kind, {}};
    return {};
}

QString PercentDecode(const QString& value) {
    const qsizetype n = value.size();
    const QChar* in = value.constData();
    QString out(n, Qt::Uninitialized);
    QChar* dst = out.data();
    qsizetype len = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = in[i];
        if (c != QLatin1Char('%')) {
            dst[len++] = c;
            continue;
        }
        const int hi = i + 1 < n ? HexDigitValue(in[i + 1].unicode()) : -1;
        const int lo = i + 2 < n ? HexDigitValue(in[i + 2].unicode()) : -1;
        if (hi < 0 || lo < 0)
            throw orvanta::Exception(QStringLiteral("Invalid escape at position %1").arg(i + 1));
        dst[len++] = QChar(static_cast<char16_t>(hi * 16 + lo));
        i += 2;
    }
    out.truncate(len);
    return out;
}

double ParseOrderSum(const QString& value) {
    double sum = 0;
    return TryStrToFloat(value, sum) ? sum : -1.0;
}

QStringList DecodeKioskLine(const QByteArray& line) {
    // Stateless decoding turns every invalid sequence into U+FFFD and keeps the rest.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(line);
    QStringList lines;
    if (!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'))) {
        if (!text.isEmpty())
            lines << text; // the usual case: no copy of a long order document
        return lines;
    }
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i <= n; ++i) {
        if (i == n || text.at(i) == QLatin1Char('\r') || text.at(i) == QLatin1Char('\n')) {
            if (i > start)
                lines << text.mid(start, i - start);
            start = i + 1;
        }
    }
    return lines;
}

void TLineBuffer::Append(const char* data, std::size_t size) {
    // Drop what was taken out once it is the larger part, so memory stays bounded
    // and each byte is moved a bounded number of times.
    if (m_start > 0 && m_start >= static_cast<std::size_t>(m_data.size()) / 2) {
        m_data.remove(0, static_cast<qsizetype>(m_start));
        m_start = 0;
    }
    m_data.append(data, static_cast<qsizetype>(size));
}

std::optional<QByteArray> TLineBuffer::ExtractLine() {
    const char* base = m_data.constData() + m_start;
    const std::size_t avail = Size();
    // Resume one byte early: a CR may have ended the previous read.
    std::size_t from = m_scan > 0 ? m_scan - 1 : 0;
    while (from + 1 < avail) {
        const void* cr = std::memchr(base + from, '\r', avail - from - 1);
        if (!cr)
            break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(cr) - base);
        if (base[at + 1] == '\n') {
            QByteArray line(base, static_cast<qsizetype>(at));
            m_start += at + 2;
            m_scan = 0;
            if (m_start == static_cast<std::size_t>(m_data.size())) {
                m_data.clear();
                m_start = 0;
            }
            return line;
        }
        from = at + 1;
    }
    m_scan = avail;
    return std::nullopt;
}

bool TLineBuffer::Overlong() const {
    return Size() > kMaxLineBytes;
}

void TLineBuffer::Clear() {
    m_data.clear();
    m_start = 0;
    m_scan = 0;
}
