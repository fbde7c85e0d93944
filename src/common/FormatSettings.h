#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// The number, money and date formats of the process. Taken from the system locale once
// at start, except the decimal separator, which is always "." so that the sums of the
// kiosk protocol and the order documents read and print the same on every workstation.
struct TFormatSettings {
    QChar DecimalSeparator = QLatin1Char('.');
    QString ThousandSeparator = QStringLiteral(",");
    QString CurrencyString;
    // Money templates with %1 standing for the grouped absolute amount.
    QString PositiveCurrencyTemplate = QStringLiteral("%1");
    QString NegativeCurrencyTemplate = QStringLiteral("-%1");
    QStringList ShortMonthNames; // January first, 12 entries
    QStringList ShortDayNames;   // Sunday first, 7 entries
};

extern TFormatSettings FormatSettings;

// Fills FormatSettings from the locale (the system's by default).
void InitFormatSettings(const QLocale& locale = QLocale::system());

// "%1.1f" and "%.2f": fixed point with the given decimals, "." separator, no grouping.
QString FormatFixed(double value, int decimals);

// "%.2m": two decimals, thousands grouped, currency symbol placed as the locale does.
QString FormatMoney(double value, int decimals = 2);

// A date-time value (days since 30 December 1899, the fraction the time of day) with a
// pattern of ddd, dd, d, mmm, mm, m, yyyy, yy, hh, h, nn, n, ss, s; other characters
// are copied. Names come from FormatSettings.
QString FormatDateTime(const QString& pattern, double dateTime);

// Locale-free readers: "." decimal point, optional leading blanks and sign, optional
// exponent; anything else after the number (a trailing blank included) fails.
bool TryStrToFloat(QStringView text, double& value);
// Optional leading blanks and sign, decimal digits, or $hex / 0xhex; nothing after.
bool TryStrToInt(QStringView text, int& value);

// The value of a hexadecimal digit (either case), -1 for any other character.
int HexDigitValue(char16_t c);
