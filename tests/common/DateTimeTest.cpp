#include "common/DateTime.h"
#include "common/Exceptions.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;

TEST(DateTime, CalendarRoundTrip) {
    struct Case {
        int y, m, d, h, n, s, ms;
        double value;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0, 0, 0.0},
        {1899, 12, 31, 0, 0, 0, 0, 1.0},
        {1900, 1, 1, 0, 0, 0, 0, 2.0},
        {1899, 12, 29, 6, 0, 0, 0, -1.25},  // negative: the fraction's magnitude is the time
        {1899, 12, 30, 12, 0, 0, 0, 0.5},
        {1800, 1, 1, 0, 0, 0, 0, -36522.0},
        {2000, 2, 29, 0, 0, 0, 0, 36585.0},
        {2024, 3, 1, 18, 0, 0, 0, 45352.75},
        {1, 1, 1, 0, 0, 0, 0, -693593.0},
        {9999, 12, 31, 23, 59, 59, 999, 2958465.0 + 86399999.0 / 86400000.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.y << "-" << c.m << "-" << c.d);
        const TDateTime v = EncodeDateTime(c.y, c.m, c.d, c.h, c.n, c.s, c.ms);
        EXPECT_DOUBLE_EQ(v, c.value);
        EXPECT_EQ(DecodeDate(c.value), (CalendarDate{c.y, c.m, c.d}));
        EXPECT_EQ(DecodeTime(c.value), (TimeOfDay{c.h, c.n, c.s, c.ms}));
    }
}

TEST(DateTime, InvalidDatesAndTimes) {
    TDateTime out = 42;
    for (auto [y, m, d] : {std::array{1900, 2, 29}, {2023, 2, 29}, {0, 1, 1}, {10000, 1, 1},
                           {2000, 13, 1}, {2000, 4, 31}, {2000, 0, 10}}) {
        EXPECT_FALSE(TryEncodeDate(y, m, d, out)) << y << "-" << m << "-" << d;
        EXPECT_THROW(EncodeDate(y, m, d), EConvertError);
    }
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, out));
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
}

TEST(DateTime, DurationsOverADayAndNegative) {
    struct Case {
        Duration d;
        double value;
    } cases[] = {
        {{false, 25, 0, 0, 0}, 25.0 / 24},
        {{true, 1, 30, 0, 0}, -0.0625},
        {{false, 838, 59, 59, 0}, (838 * 3600 + 59 * 60 + 59) / 86400.0},
        {{true, 838, 59, 59, 0}, -(838 * 3600 + 59 * 60 + 59) / 86400.0},
        {{false, 0, 0, 0, 500}, 0.5 / 86400},
        {{false, 0, 0, 0, 0}, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_DOUBLE_EQ(EncodeDuration(c.d.Negative, c.d.Hours, c.d.Minutes, c.d.Seconds, c.d.MSecs),
                         c.value);
        EXPECT_EQ(DecodeDuration(c.value), c.d);
    }
}

TEST(DateTime, MillisecondsSurviveTheDoubleForEveryMillisecondOfADay) {
    // Encoding then decoding must give the same millisecond, also far from the epoch.
    const TDateTime date = EncodeDate(2087, 6, 15);
    for (int ms = 0; ms < 86'400'000; ms += 997) {
        const TDateTime v = date + double(ms) / 86'400'000.0;
        const TimeOfDay t = DecodeTime(v);
        ASSERT_EQ(((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.MSec, ms);
        ASSERT_EQ(DecodeDate(v), (CalendarDate{2087, 6, 15}));
    }
}

TEST(DateTime, DateOfAndTimeOf) {
    EXPECT_DOUBLE_EQ(DateOf(45352.75), 45352.0);
    EXPECT_DOUBLE_EQ(TimeOf(45352.75), 0.75);
    EXPECT_DOUBLE_EQ(DateOf(-1.25), -1.0);
    EXPECT_DOUBLE_EQ(TimeOf(-1.25), 0.25);
    EXPECT_DOUBLE_EQ(ComposeDateTime(-1.0, 0.25), -1.25);
}
