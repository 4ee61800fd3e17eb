#include "common/Variant.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <functional>

using namespace calvoro;

namespace {

const Variant kDate = Variant::FromDateTime(EncodeDateTime(2024, 3, 1, 18, 30, 5, 250));

}  // namespace

TEST(Variant, TypesAndEquality) {
    EXPECT_EQ(Variant().Type(), VarType::Empty);
    EXPECT_EQ(Variant::Null().Type(), VarType::Null);
    EXPECT_EQ(Variant(7).Type(), VarType::Integer);
    EXPECT_EQ(Variant(int64_t(1) << 40).Type(), VarType::Integer);
    EXPECT_EQ(Variant(1.5).Type(), VarType::Float);
    EXPECT_EQ(Variant::FromCurrency(1.5).Type(), VarType::Currency);
    EXPECT_EQ(kDate.Type(), VarType::DateTime);
    EXPECT_EQ(Variant(true).Type(), VarType::Boolean);
    EXPECT_EQ(Variant(QStringLiteral("x")).Type(), VarType::String);
    EXPECT_EQ(Variant(QByteArray("x")).Type(), VarType::Bytes);

    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Variant::Null(), Variant::Null());
    EXPECT_FALSE(Variant() == Variant::Null());
    EXPECT_FALSE(Variant(1) == Variant(1.0));  // same number, different type
    EXPECT_FALSE(Variant(QStringLiteral("1")) == Variant(1));
    EXPECT_TRUE(Variant::Null().IsNullOrEmpty());
    EXPECT_TRUE(Variant().IsNullOrEmpty());
    EXPECT_FALSE(Variant(0).IsNullOrEmpty());
}

TEST(Variant, ToString) {
    const std::pair<Variant, const char*> cases[] = {
        {Variant(), ""},
        {Variant(-42), "-42"},
        {Variant(int64_t(INT64_MIN)), "-9223372036854775808"},
        {Variant(0.1 + 0.2), "0.30000000000000004"},
        {Variant(1e20), "1e+20"},
        {Variant(-2.5), "-2.5"},
        {Variant::FromCurrency(12.5), "12.5"},
        {Variant::FromCurrency(-0.0001), "-0.0001"},
        {Variant::FromCurrencyScaled(INT64_MIN), "-922337203685477.5808"},
        {Variant(true), "True"},
        {Variant(false), "False"},
        {kDate, "2024-03-01 18:30:05.250"},
        {Variant::FromDateTime(EncodeDate(2024, 3, 1)), "2024-03-01"},
        {Variant::FromDateTime(0.75), "18:00:00"},
        {Variant::FromDateTime(0), "1899-12-30"},
        {Variant(QByteArray("caf\xe9")), "caf\u00e9"},
    };
    for (const auto& [v, text] : cases) EXPECT_EQ(v.AsString(), QString::fromUtf8(text)) << text;
}

TEST(Variant, ToNumbers) {
    struct Case {
        Variant v;
        int64_t i;
        double f;
        bool b;
    } cases[] = {
        {Variant(), 0, 0, false},
        {Variant(5), 5, 5, true},
        {Variant(2.5), 2, 2.5, true},  // half to even
        {Variant(3.5), 4, 3.5, true},
        {Variant(-2.5), -2, -2.5, true},
        {Variant(true), -1, -1, true},
        {Variant(false), 0, 0, false},
        {Variant::FromCurrency(2.5), 2, 2.5, true},
        {Variant::FromCurrency(-3.5), -4, -3.5, true},
        {Variant::FromCurrency(7.0001), 7, 7.0001, true},
        {Variant(QStringLiteral(" 17 ")), 17, 17, true},
        {Variant(QStringLiteral("-1.5e1")), -15, -15, true},
        {Variant(QStringLiteral("0")), 0, 0, false},
        {Variant::FromDateTime(45352.75), 45353, 45352.75, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v.AsString().toStdString());
        EXPECT_EQ(c.v.AsInt64(), c.i);
        EXPECT_DOUBLE_EQ(c.v.AsFloat(), c.f);
        EXPECT_EQ(c.v.AsBoolean(), c.b);
    }
    EXPECT_TRUE(Variant(QStringLiteral("TRUE")).AsBoolean());
    EXPECT_FALSE(Variant(QStringLiteral("false")).AsBoolean());
    EXPECT_EQ(Variant(int64_t(1) << 40).AsInt64(), int64_t(1) << 40);
    EXPECT_EQ(Variant(QStringLiteral("9223372036854775807")).AsInt64(), INT64_MAX);
    EXPECT_THROW(Variant(int64_t(1) << 40).AsInteger(), EConvertError);
    EXPECT_EQ(Variant(12.34).AsCurrencyScaled(), 123400);
    EXPECT_EQ(Variant(3).AsCurrencyScaled(), 30000);
}

TEST(Variant, FailedConversionsName) {
    struct Case {
        Variant v;
        std::function<void(const Variant&)> convert;
        const char* message;
    } cases[] = {
        {Variant::Null(), [](const Variant& v) { v.AsInt64(); },
         "Could not convert variant of type (Null) into type (Int64)"},
        {Variant::Null(), [](const Variant& v) { v.AsString(); },
         "Could not convert variant of type (Null) into type (UnicodeString)"},
        {Variant(QStringLiteral("abc")), [](const Variant& v) { v.AsFloat(); },
         "Could not convert variant of type (UnicodeString) into type (Double)"},
        {Variant(QStringLiteral("12abc")), [](const Variant& v) { v.AsInt64(); },
         "Could not convert variant of type (UnicodeString) into type (Int64)"},
        {Variant(QStringLiteral("maybe")), [](const Variant& v) { v.AsBoolean(); },
         "Could not convert variant of type (UnicodeString) into type (Boolean)"},
        {Variant(QStringLiteral("2024-02-30")), [](const Variant& v) { v.AsDateTime(); },
         "Could not convert variant of type (UnicodeString) into type (Date)"},
        {Variant(1.5), [](const Variant& v) { v.AsBytes(); },
         "Could not convert variant of type (Double) into type (Array Byte)"},
        {Variant(1e300), [](const Variant& v) { v.AsInt64(); },
         "Could not convert variant of type (Double) into type (Int64)"},
        {Variant(std::nan("")), [](const Variant& v) { v.AsInt64(); },
         "Could not convert variant of type (Double) into type (Int64)"},
    };
    for (const auto& c : cases) {
        try {
            c.convert(c.v);
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const EVariantTypeCastError& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(c.message));
        }
    }
}

TEST(Variant, DateTimeTextRoundTrip) {
    const char* texts[] = {"2024-03-01", "2024-03-01 18:30:05", "2024-03-01 18:30:05.250",
                           "18:00:00", "0001-01-01", "9999-12-31 23:59:59.999"};
    for (const char* text : texts) {
        const Variant v(QString::fromLatin1(text));
        const TDateTime d = v.AsDateTime();
        EXPECT_EQ(DateTimeToText(d), QString::fromLatin1(text));
    }
    TDateTime d;
    for (const char* bad : {"", "2024-3-1", "2024-03-01T10:00:00", "25:00:00", "2024-03-01 1"})
        EXPECT_FALSE(TextToDateTime(QString::fromLatin1(bad), d)) << bad;
}

TEST(Variant, IntegerAndDurationTexts) {
    for (int64_t v : {int64_t(0), int64_t(7), int64_t(-1), int64_t(1000000007), std::numeric_limits<int64_t>::min(),
                      std::numeric_limits<int64_t>::max()})
        EXPECT_EQ(IntToText(v), QString::number(v));
    struct Case {
        TDateTime value;
        const char* text;
    } cases[] = {
        {EncodeDuration(false, 0, 0, 0, 0), "0:00:00"},
        {EncodeDuration(false, 838, 59, 59, 0), "838:59:59"},
        {EncodeDuration(true, 1, 2, 3, 4), "-1:02:03.004"},
    };
    for (const Case& c : cases) EXPECT_EQ(DurationToText(c.value), QString::fromLatin1(c.text));
    EXPECT_EQ(DateToText(EncodeDateTime(2024, 3, 1, 18, 30, 5, 0)), QStringLiteral("2024-03-01"));
}

TEST(Variant, StringsAndBytesThroughTheCodePage) {
    const QString text = QStringLiteral("\u20ac\u00e9\u0416");
    EXPECT_EQ(Variant(text).AsBytes(), QByteArray("\x80\xe9?"));
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i) all[i] = char(i);
    EXPECT_EQ(Variant(Variant(all).AsString()).AsBytes(), all);
}
