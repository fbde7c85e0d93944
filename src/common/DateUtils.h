#pragma once

#include <optional>

// Date-time values of the console: local date and time as days since
// 30 December 1899 00:00, the fraction being the time of day; 0 is "no date".
using TDateTime = double;

struct TDateParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
    int DayOfWeek = 6; // 0 Sunday .. 6 Saturday
};

// Empty when the date or the time does not exist (month 13, 30 February, hour 24).
std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                                        int second = 0, int msec = 0);
TDateParts DecodeDateTime(TDateTime value);
