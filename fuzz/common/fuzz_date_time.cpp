// Date-time text (UTF-8 input) read by TextToDateTime: whatever it accepts, DateTimeToText
// writes back as text that reads to the same millisecond and is written the same way again.
// The first eight bytes also pick a calendar date and time of day (years 1 to 9999), whose
// text must read back to exactly that date and time.
#include "common/DateTime.h"
#include "FuzzCheck.h"
#include "common/Variant.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace calvoro;
using calvoro::fuzz::Check;

namespace {

// Text written for value reads back to the same millisecond and is written alike again.
void CheckRoundTrip(TDateTime value) {
    const QString text = DateTimeToText(value);
    TDateTime again = 0;
    Check(TextToDateTime(text, again));
    Check(DateTimeToMSecs(again) == DateTimeToMSecs(value));
    Check(DateTimeToText(again) == text);
}

void CheckPickedDate(const uint8_t* data) {
    uint64_t v;
    std::memcpy(&v, data, sizeof v);
    const auto take = [&v](uint64_t range) {
        const int part = int(v % range);
        v /= range;
        return part;
    };
    const int year = 1 + take(9999), month = 1 + take(12);
    const int day = 1 + take(uint64_t(DaysInMonth(year, month)));
    const int hour = take(24), minute = take(60), second = take(60), msec = take(1000);
    const TDateTime value = EncodeDateTime(year, month, day, hour, minute, second, msec);
    TDateTime read = 0;
    Check(TextToDateTime(DateTimeToText(value), read));
    CalendarDate date;
    TimeOfDay time;
    DecodeDateTime(read, date, time);
    Check(date == (CalendarDate{year, month, day}));
    Check(time == (TimeOfDay{hour, minute, second, msec}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    TDateTime value = 0;
    if (TextToDateTime(text, value)) CheckRoundTrip(value);
    if (size >= 8) CheckPickedDate(data);
    return 0;
}
