#include "common/DateUtils.h"

#include <cmath>

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar; negative
// before it.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468; // days since 1970-01-01
}

bool leap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

const long long kEpochShift = daysFromCivil(1899, 12, 30); // 1899-12-30 relative to 1970

} // namespace

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int msec) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month))
        return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return std::nullopt;
    const double days = static_cast<double>(daysFromCivil(year, month, day) - kEpochShift);
    const double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
    // Before the epoch the fraction counts forward from the (negative) day, as the
    // date-time type has it: -1.25 is 29 December 1899, 06:00.
    return days >= 0 ? days + time : days - time;
}

TDateParts DecodeDateTime(TDateTime value) {
    TDateParts p;
    double dayPart = std::trunc(value);
    double frac = std::fabs(value - dayPart);
    long long ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        dayPart += value >= 0 ? 1 : -1;
    }
    long long z = static_cast<long long>(dayPart) + kEpochShift + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    p.Year = static_cast<int>(y);
    p.Month = static_cast<int>(m);
    p.Day = static_cast<int>(d);
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.MSec = static_cast<int>(ms % 1000);
    const long long unixDays = static_cast<long long>(dayPart) + kEpochShift;
    p.DayOfWeek = static_cast<int>(((unixDays % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    return p;
}
