#include "printing/ReceiptText.h"

namespace orvanta {

namespace {

struct Substitute {
    char16_t ch;
    const char16_t* text;
};

// Kept in code point order; small enough for a linear scan.
constexpr Substitute kSubstitutes[] = {
    {u'\u00A0', u" "},   // no-break space (digit grouping of many locales)
    {u'\u00AB', u"\""},  // «
    {u'\u00BB', u"\""},  // »
    {u'\u2007', u" "},   // figure space
    {u'\u2009', u" "},   // thin space
    {u'\u2010', u"-"},   // hyphen
    {u'\u2011', u"-"},   // non-breaking hyphen
    {u'\u2012', u"-"},   // figure dash
    {u'\u2013', u"-"},   // –
    {u'\u2014', u"-"},   // —
    {u'\u2018', u"'"},   // ‘
    {u'\u2019', u"'"},   // ’
    {u'\u201A', u"'"},   // ‚
    {u'\u201C', u"\""},  // “
    {u'\u201D', u"\""},  // ”
    {u'\u201E', u"\""},  // „
    {u'\u2026', u"..."}, // …
    {u'\u202F', u" "},   // narrow no-break space (grouping of the Russian locale)
    {u'\u20BD', u"р."},  // rouble sign
    {u'\u2212', u"-"},   // minus sign
};

const char16_t* substituteFor(char16_t c) {
    for (const Substitute& s : kSubstitutes) {
        if (s.ch == c)
            return s.text;
    }
    return nullptr;
}

} // namespace

QString receiptText(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x20) {
            out += QLatin1Char(' ');
        } else if (c < 0xA0) {
            out += qc;
        } else if (const char16_t* s = substituteFor(c)) {
            out += QStringView(s);
        } else {
            out += qc;
        }
    }
    return out;
}

} // namespace orvanta
