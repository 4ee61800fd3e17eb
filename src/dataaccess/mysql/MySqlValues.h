#pragma once
// Conversions of MySQL result values, apart from any connection: text and binary dates and
// times to day counts, numbers from their text, UTF-8 to UTF-16 with errors for malformed
// input, and the server's own text form of binary temporal values (what the text protocol
// would have sent for them).

#include "common/DateTime.h"
#include "protocol/MySqlRowFormat.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace calvoro::dac {

// An optional "-" and decimal digits; "'%s' is not a valid integer value" otherwise (also when
// the number does not fit 64 bits).
int64_t MySqlTextToInt(std::string_view text);
// The same for an unsigned 64-bit number.
uint64_t MySqlTextToUInt(std::string_view text);
// Decimal text: sign, digits, optional "." and exponent; correctly rounded (the shortest text
// of a double reads back to the same double). "'%s' is not a valid floating point value".
double MySqlTextToFloat(std::string_view text);
// A BIT value: its bytes as a big-endian unsigned number (at most 8 bytes are significant).
uint64_t MySqlBitsToUInt(const uint8_t* bytes, size_t length);

// The result of a date conversion: a value, or a date that is not valid (0000-00-00 and the
// like), which the record set turns into NULL or 0100-01-01.
struct TMySqlDate {
    bool Valid = false;
    TDateTime Value = 0;
};

// Text forms. DATE, DATETIME and TIMESTAMP: "YYYY-MM-DD", "YYYY-MM-DD hh:mm:ss" with an
// optional fraction of up to six digits (kept as whole milliseconds); TIMESTAMP texts without
// separators by their length: YY, YYMM, YYMMDD, YYYYMMDD, YYMMDDhhmm, YYMMDDhhmmss,
// YYYYMMDDhhmmss (two-digit years below 70 are 20YY). Anything else raises EConvertError
// "Invalid FIELD_TYPE_TIMESTAMP Field.Length (n)" for digit strings of another length, or
// "Invalid date value: '%s'" for text that is no date at all.
TMySqlDate MySqlTextToDate(protocol::TMySqlFieldType type, std::string_view text);
// TIME text: an optional "-", up to four hour digits, ":" minutes ":" seconds, an optional
// fraction; negative times stay negative. "Wrong time format. Field %s, value %s" otherwise.
TDateTime MySqlTextToTime(std::string_view text, const QString& fieldName);
// Binary DATE, DATETIME and TIMESTAMP: length 0 (all zero), 4 (date), 7 (with time) or 11
// (with microseconds); "FIELD_TYPE_DATETIME Len = n" for any other length.
TMySqlDate MySqlBinaryToDate(const uint8_t* value, size_t length);
// Binary TIME: length 0 is 00:00:00; 8 bytes sign, days [4], hour, minute, second; 12 bytes
// with microseconds [4]. A set sign byte makes the value negative. "Error DateTimeFromStrPrep
// function Len = n" for any other length.
TDateTime MySqlBinaryToTime(const uint8_t* value, size_t length);

// The text the server sends for a binary temporal value of a column with `decimals` fraction
// digits (0 to 6): "2024-03-01", "2024-03-01 18:30:05.120", "-838:59:59", "0000-00-00".
std::string MySqlBinaryTemporalToText(protocol::TMySqlFieldType type, unsigned decimals, const uint8_t* value,
                                      size_t length);

// Decodes UTF-8 into at most maxUnits UTF-16 code units; returns how many were written.
// Malformed input raises EConvertError: "malformed trail byte" (a continuation byte was due
// and another byte came), "malformed trail byte or out of range char" (a byte that cannot
// start a character, an overlong form, a surrogate or a code point above U+10FFFF),
// "incomplete multibyte char" (the text ends inside a character).
size_t MySqlUtf8ToUtf16(const uint8_t* bytes, size_t length, char16_t* out, size_t maxUnits);
// The number of UTF-16 units the text needs (the same checks).
size_t MySqlUtf16Length(const uint8_t* bytes, size_t length);

}  // namespace calvoro::dac
