#pragma once
// Date-time values as a day count since 1899-12-30 with the time of day as fraction.
//
// For negative values the integral part is the day and the fraction's magnitude the time of
// day: -1.25 is 1899-12-29 06:00. Durations (a MySQL TIME) use the same scale and may exceed a
// day or be negative: 25:00:00 is 1.0416..., -1:30:00 is -0.0625. Calendar dates are proleptic
// Gregorian, years 1 to 9999.

#include <cstdint>

namespace calvoro {

using TDateTime = double;

inline constexpr int64_t MSecsPerDay = 86'400'000;
inline constexpr int64_t SecsPerDay = 86'400;

struct CalendarDate {
    int Year = 0, Month = 0, Day = 0;
    bool operator==(const CalendarDate&) const = default;
};

struct TimeOfDay {
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
    bool operator==(const TimeOfDay&) const = default;
};

struct Duration {
    bool Negative = false;
    int64_t Hours = 0;
    int Minutes = 0, Seconds = 0, MSecs = 0;
    bool operator==(const Duration&) const = default;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool IsValidDate(int year, int month, int day);

// Days since 1899-12-30 for a valid date; false (and out untouched) otherwise.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// Raises EConvertError "Invalid argument to date encode" for an invalid date.
TDateTime EncodeDate(int year, int month, int day);
// Time of day as a fraction; hour 0..23. Raises EConvertError "Invalid argument to time encode".
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
// Date plus time of day, following the sign rule above.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

CalendarDate DecodeDate(TDateTime value);
TimeOfDay DecodeTime(TDateTime value);
void DecodeDateTime(TDateTime value, CalendarDate& date, TimeOfDay& time);

// Whole days of the value (its date part) and the time of day alone.
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);

// Durations: hours without limit, signed.
TDateTime EncodeDuration(bool negative, int64_t hours, int minutes, int seconds, int msecs);
Duration DecodeDuration(TDateTime value);

// Milliseconds since 1899-12-30 00:00 as used for rounding; exposed for exact comparisons.
int64_t DateTimeToMSecs(TDateTime value);

}  // namespace calvoro
