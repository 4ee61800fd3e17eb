#include "DateTime.h"

#include "Exceptions.h"

#include <cmath>
#include <cstdlib>

namespace calvoro {
namespace {

// Day number of 1899-12-30, counting 0001-01-01 as day 0 (proleptic Gregorian).
constexpr int64_t kDateDelta = 693593;

// Day number (0001-01-01 is day 0) of a valid date.
int64_t DaysFromCivil(int y, int m, int d) {
    // Era-based conversion; works for the whole 1..9999 range.
    y -= m <= 2;
    const int64_t era = y / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 306;  // 306 = days from 0000-03-01 to 0001-01-01
}

CalendarDate CivilFromDays(int64_t z) {
    z += 306;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    const int y = int(yoe + era * 400 + (m <= 2));
    return {y, m, d};
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (!IsValidDate(year, month, day)) return false;
    out = double(DaysFromCivil(year, month, day) - kDateDelta);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime result;
    if (!TryEncodeDate(year, month, day, result))
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    return result;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    out = double((int64_t(hour) * 3600 + minute * 60 + second) * 1000 + msec) / double(MSecsPerDay);
    return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime result;
    if (!TryEncodeTime(hour, minute, second, msec, result))
        throw EConvertError(QStringLiteral("Invalid argument to time encode"));
    return result;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
    return date < 0 ? date - time : date + time;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int msec) {
    return ComposeDateTime(EncodeDate(year, month, day), EncodeTime(hour, minute, second, msec));
}

int64_t DateTimeToMSecs(TDateTime value) { return std::llround(value * double(MSecsPerDay)); }

CalendarDate DecodeDate(TDateTime value) {
    // The integral part, truncated towards zero, is the day (see the header).
    const int64_t days = DateTimeToMSecs(value) / MSecsPerDay;
    return CivilFromDays(days + kDateDelta);
}

TimeOfDay DecodeTime(TDateTime value) {
    int64_t ms = std::llabs(DateTimeToMSecs(value)) % MSecsPerDay;
    TimeOfDay t;
    t.MSec = int(ms % 1000);
    ms /= 1000;
    t.Second = int(ms % 60);
    ms /= 60;
    t.Minute = int(ms % 60);
    t.Hour = int(ms / 60);
    return t;
}

void DecodeDateTime(TDateTime value, CalendarDate& date, TimeOfDay& time) {
    date = DecodeDate(value);
    time = DecodeTime(value);
}

TDateTime DateOf(TDateTime value) { return double(DateTimeToMSecs(value) / MSecsPerDay); }

TDateTime TimeOf(TDateTime value) {
    return double(std::llabs(DateTimeToMSecs(value)) % MSecsPerDay) / double(MSecsPerDay);
}

TDateTime EncodeDuration(bool negative, int64_t hours, int minutes, int seconds, int msecs) {
    const int64_t ms = ((hours * 60 + minutes) * 60 + seconds) * 1000 + msecs;
    const double v = double(ms) / double(MSecsPerDay);
    return negative ? -v : v;
}

Duration DecodeDuration(TDateTime value) {
    const int64_t signedMs = DateTimeToMSecs(value);
    int64_t ms = std::llabs(signedMs);
    Duration d;
    d.Negative = signedMs < 0;
    d.MSecs = int(ms % 1000);
    ms /= 1000;
    d.Seconds = int(ms % 60);
    ms /= 60;
    d.Minutes = int(ms % 60);
    d.Hours = ms / 60;
    return d;
}

}  // namespace calvoro
