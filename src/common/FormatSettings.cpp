#include "common/FormatSettings.h"

#include "common/DateUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

TFormatSettings FormatSettings;

namespace {

// The currency template of the locale for one sign: the text around the number.
QString currencyTemplate(const QLocale& locale, double sample) {
    const QString text = locale.toCurrencyString(sample, locale.currencySymbol(), 0);
    const QString digits = QStringLiteral("7");
    const qsizetype at = text.indexOf(digits);
    if (at < 0)
        return sample < 0 ? QStringLiteral("-%1") : QStringLiteral("%1");
    return text.left(at) + QStringLiteral("%1") + text.mid(at + digits.size());
}

QString groupDigits(const QString& digits, const QString& separator) {
    if (separator.isEmpty() || digits.size() <= 3)
        return digits;
    QString out;
    const qsizetype lead = digits.size() % 3;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (i - lead) % 3 == 0)
            out += separator;
        out += digits.at(i);
    }
    return out;
}

} // namespace

void InitFormatSettings(const QLocale& locale) {
    TFormatSettings s;
    s.DecimalSeparator = QLatin1Char('.');
    s.ThousandSeparator = locale.groupSeparator();
    // With "." forced as decimal separator a "." for thousands would make 1.234.50 out
    // of a money amount; such locales group with a space instead.
    if (s.ThousandSeparator == QLatin1String("."))
        s.ThousandSeparator = QStringLiteral(" ");
    s.CurrencyString = locale.currencySymbol();
    s.PositiveCurrencyTemplate = currencyTemplate(locale, 7);
    s.NegativeCurrencyTemplate = currencyTemplate(locale, -7);
    for (int m = 1; m <= 12; ++m)
        s.ShortMonthNames << locale.monthName(m, QLocale::ShortFormat);
    s.ShortDayNames << locale.dayName(7, QLocale::ShortFormat); // Qt: 1 Monday .. 7 Sunday
    for (int d = 1; d <= 6; ++d)
        s.ShortDayNames << locale.dayName(d, QLocale::ShortFormat);
    FormatSettings = s;
}

QString FormatFixed(double value, int decimals) {
    // QString::number is locale-free: always "." and no grouping.
    QString text = QString::number(value, 'f', decimals);
    // A negative amount that rounds to zero prints as 0.00, not -0.00.
    if (text.startsWith(QLatin1Char('-')) && std::all_of(text.begin() + 1, text.end(), [](QChar c) {
            return c == QLatin1Char('0') || c == QLatin1Char('.');
        }))
        text.remove(0, 1);
    return text;
}

QString FormatMoney(double value, int decimals) {
    QString fixed = FormatFixed(std::fabs(value), decimals);
    const bool negative = value < 0 && FormatFixed(value, decimals).startsWith(QLatin1Char('-'));
    const qsizetype dot = fixed.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? fixed : fixed.left(dot);
    const QString frac = dot < 0 ? QString() : fixed.mid(dot + 1);
    QString number = groupDigits(whole, FormatSettings.ThousandSeparator);
    if (!frac.isEmpty())
        number += FormatSettings.DecimalSeparator + frac;
    const QString& tmpl = negative ? FormatSettings.NegativeCurrencyTemplate
                                   : FormatSettings.PositiveCurrencyTemplate;
    return QString(tmpl).replace(QStringLiteral("%1"), number);
}

QString FormatDateTime(const QString& pattern, double dateTime) {
    const TDateParts p = DecodeDateTime(dateTime);
    QString out;
    const QString lower = pattern.toLower();
    auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    qsizetype i = 0;
    while (i < lower.size()) {
        auto run = [&](QChar c) {
            qsizetype n = 0;
            while (i + n < lower.size() && lower.at(i + n) == c)
                ++n;
            return n;
        };
        const QChar c = lower.at(i);
        qsizetype n = 1;
        if (c == QLatin1Char('d')) {
            n = run(c);
            if (n >= 3)
                out += FormatSettings.ShortDayNames.value(p.DayOfWeek);
            else
                out += n == 2 ? two(p.Day) : QString::number(p.Day);
        } else if (c == QLatin1Char('m')) {
            n = run(c);
            if (n >= 3)
                out += FormatSettings.ShortMonthNames.value(p.Month - 1);
            else
                out += n == 2 ? two(p.Month) : QString::number(p.Month);
        } else if (c == QLatin1Char('y')) {
            n = run(c);
            out += n >= 3 ? QStringLiteral("%1").arg(p.Year, 4, 10, QLatin1Char('0'))
                          : two(p.Year % 100);
        } else if (c == QLatin1Char('h') || c == QLatin1Char('n') || c == QLatin1Char('s')) {
            n = run(c);
            const int v = c == QLatin1Char('h')   ? p.Hour
                          : c == QLatin1Char('n') ? p.Minute
                                                  : p.Second;
            out += n >= 2 ? two(v) : QString::number(v);
        } else {
            out += pattern.at(i);
        }
        i += n;
    }
    return out;
}

bool TryStrToFloat(QStringView text, double& value) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i) == QLatin1Char(' '))
        ++i;
    std::string ascii;
    ascii.reserve(static_cast<std::size_t>(n - i));
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ascii += static_cast<char>(text.at(i++).unicode());
    qsizetype digits = 0;
    while (i < n && text.at(i).isDigit() && text.at(i).unicode() < 128) {
        ascii += static_cast<char>(text.at(i++).unicode());
        ++digits;
    }
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ascii += '.';
        ++i;
        while (i < n && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9') {
            ascii += static_cast<char>(text.at(i++).unicode());
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ascii += 'e';
        ++i;
        if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            ascii += static_cast<char>(text.at(i++).unicode());
        qsizetype expDigits = 0;
        while (i < n && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9') {
            ascii += static_cast<char>(text.at(i++).unicode());
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != n)
        return false;
    // The C++ parser of the classic locale, never the process locale.
    bool ok = false;
    const double v = QByteArray::fromStdString(ascii).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

bool TryStrToInt(QStringView text, int& value) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        negative = text.at(i++) == QLatin1Char('-');
    int base = 10;
    if (i < n && text.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text.at(i) == QLatin1Char('0') &&
               (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return false;
    long long v = 0;
    for (; i < n; ++i) {
        const int d = HexDigitValue(text.at(i).unicode());
        if (d < 0 || d >= base)
            return false;
        v = v * base + d;
        if (v > 0xFFFFFFFFLL)
            return false;
    }
    if (base == 10) {
        const long long signedValue = negative ? -v : v;
        if (signedValue < INT32_MIN || signedValue > INT32_MAX)
            return false;
        value = static_cast<int>(signedValue);
    } else {
        // Hexadecimal covers the full 32 bits, as colour references need.
        const auto bits = static_cast<std::uint32_t>(v);
        value = negative ? -static_cast<int>(bits) : static_cast<int>(bits);
    }
    return true;
}
