#pragma once
// A tagged value: parameter values, field access and driver property values.
//
// Conversions follow the usual rules of the tools this system grew from: Empty converts to
// zero, the empty string and false; Null converts to nothing (EVariantTypeCastError); a
// Boolean true is -1 as a number; floats become integers by rounding half to even; strings
// convert to and from byte arrays through the 8-bit code page.

#include "DateTime.h"
#include "Exceptions.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <variant>

namespace calvoro {

enum class VarType { Empty, Null, Integer, Float, Currency, DateTime, Boolean, String, Bytes };

QString VarTypeName(VarType type);

class EVariantTypeCastError : public EConvertError {
public:
    EVariantTypeCastError(VarType from, VarType to);
};

class Variant {
public:
    Variant() = default;  // Empty
    Variant(int value) : FValue(int64_t(value)) {}
    Variant(unsigned value) : FValue(int64_t(value)) {}
    Variant(long value) : FValue(int64_t(value)) {}
    Variant(long long value) : FValue(int64_t(value)) {}
    Variant(double value) : FValue(value) {}
    Variant(bool value) : FValue(value) {}
    Variant(const QString& value) : FValue(value) {}
    Variant(QString&& value) : FValue(std::move(value)) {}
    Variant(const char16_t* value) : FValue(QString::fromUtf16(value)) {}
    Variant(const char*) = delete;  // 8-bit text: say which encoding (FromLatin1, QString)
    Variant(const QByteArray& bytes) : FValue(bytes) {}

    static Variant Null();
    static Variant FromCurrency(double value);          // rounded to 4 decimals
    static Variant FromCurrencyScaled(int64_t scaled);  // value * 10000
    static Variant FromDateTime(TDateTime value);
    static Variant FromLatin1(const char* text);

    VarType Type() const;
    bool IsEmpty() const { return Type() == VarType::Empty; }
    bool IsNull() const { return Type() == VarType::Null; }
    bool IsNullOrEmpty() const { return IsEmpty() || IsNull(); }

    int64_t AsInt64() const;
    int32_t AsInteger() const;  // raises on values outside 32 bits
    double AsFloat() const;
    int64_t AsCurrencyScaled() const;
    double AsCurrency() const { return double(AsCurrencyScaled()) / 10000.0; }
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    QString AsString() const;
    QByteArray AsBytes() const;

    // Same type and same value (Empty == Empty, Null == Null).
    bool operator==(const Variant& other) const;

private:
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    struct Currency {
        int64_t Scaled;
        bool operator==(const Currency&) const = default;
    };
    struct Date {
        double Days;
        bool operator==(const Date&) const = default;
    };
    using Storage = std::variant<std::monostate, NullTag, int64_t, double, Currency, Date, bool,
                                 QString, QByteArray>;
    [[noreturn]] void CastError(VarType to) const;

    Storage FValue;
};

// Text of a float as the shortest decimal that reads back to the same double ("0.1", "1e+20").
QString FloatToText(double value);
// Text of a date-time: "YYYY-MM-DD", "hh:nn:ss" or both, ".zzz" when milliseconds are set.
QString DateTimeToText(TDateTime value);
// Decimal text of an integer (as QString::number, without its locale machinery).
QString IntToText(int64_t value);
// "YYYY-MM-DD" of the date part.
QString DateToText(TDateTime value);
// Text of a duration: "[-]h:mm:ss" with as many hour digits as needed, ".zzz" when
// milliseconds are set.
QString DurationToText(TDateTime value);
// Parses the forms DateTimeToText writes; false when the text is none of them.
bool TextToDateTime(QStringView text, TDateTime& out);

}  // namespace calvoro
