#include "Escaping.h"

#include <QStringDecoder>

namespace kiosksim {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

bool needsEscape(char16_t c) {
    // C0 and C1 controls, DEL and the escape character itself.
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == u'%';
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QByteArray percentEscape(QStringView text) {
    QByteArray out;
    out.reserve(text.size() * 2);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!needsEscape(c))
            continue;
        out += text.sliced(runStart, i - runStart).toUtf8();
        out += '%';
        out += HexDigits[(c >> 4) & 0xF];
        out += HexDigits[c & 0xF];
        runStart = i + 1;
    }
    out += text.sliced(runStart).toUtf8();
    return out;
}

bool decodeBackslashes(QStringView text, QByteArray* bytes, QString* error) {
    bytes->clear();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\')
            continue;
        *bytes += text.sliced(runStart, i - runStart).toUtf8();
        if (i + 1 >= text.size()) {
            *error = QStringLiteral("a backslash at the end of the text (write \\\\ for one)");
            return false;
        }
        const char16_t kind = text[i + 1].unicode();
        switch (kind) {
        case u'r':
            *bytes += '\r';
            break;
        case u'n':
            *bytes += '\n';
            break;
        case u't':
            *bytes += '\t';
            break;
        case u'0':
            *bytes += '\0';
            break;
        case u'\\':
            *bytes += '\\';
            break;
        case u'x': {
            const int hi = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            const int lo = i + 3 < text.size() ? hexValue(text[i + 3]) : -1;
            if (hi < 0 || lo < 0) {
                *error = QStringLiteral("\\x needs two hexadecimal digits");
                return false;
            }
            *bytes += char(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            *error = QStringLiteral("unknown escape \\%1").arg(QChar(kind));
            return false;
        }
        ++i;
        runStart = i + 1;
    }
    *bytes += text.sliced(runStart).toUtf8();
    return true;
}

QString printable(const QByteArray& bytes, qsizetype limit) {
    const QByteArray shown = bytes.size() > limit ? bytes.first(limit) : bytes;
    QString out;
    out.reserve(shown.size());
    qsizetype i = 0;
    while (i < shown.size()) {
        const auto b = static_cast<unsigned char>(shown[i]);
        if (b >= 0x20 && b < 0x7F) {
            out += QLatin1Char(char(b));
            ++i;
            continue;
        }
        // A multi-byte UTF-8 sequence is shown as its character when it is valid and not
        // a control character; anything else byte by byte.
        qsizetype len = 0;
        if (b >= 0xC2 && b <= 0xDF)
            len = 2;
        else if (b >= 0xE0 && b <= 0xEF)
            len = 3;
        else if (b >= 0xF0 && b <= 0xF4)
            len = 4;
        if (len > 0 && i + len <= shown.size()) {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
            const QString ch = decoder(shown.sliced(i, len));
            if (!decoder.hasError() && !ch.isEmpty() && !needsEscape(ch[0].unicode())) {
                out += ch;
                i += len;
                continue;
            }
        }
        out += QLatin1String("\\x");
        out += QLatin1Char(HexDigits[b >> 4]);
        out += QLatin1Char(HexDigits[b & 0xF]);
        ++i;
    }
    if (bytes.size() > limit)
        out += QStringLiteral(" ... (%1 more bytes)").arg(bytes.size() - limit);
    return out;
}

bool decodeUtf8(const QByteArray& bytes, QString* text) {
    // Stateless: a sequence cut off at the end of the file is an error too, not a state
    // kept for more input.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    *text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace kiosksim
