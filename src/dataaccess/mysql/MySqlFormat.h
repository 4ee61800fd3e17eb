#pragma once
// SQL literals: how values are written into statement text for MySQL, and how strings are
// quoted and escaped. Used for parameter substitution, generated update statements and backups.

#include "common/Variant.h"
#include "dataaccess/common/DataTypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace calvoro::dac {

// Quotes and escapes bytes: '...' with NUL, LF, CR, ^Z, ", ' and \ backslash-escaped when
// `needBackslashes` is set; otherwise only ' is doubled.
QByteArray EscapeString(QByteArrayView bytes, bool needBackslashes);
void AppendEscapedString(QByteArray& buffer, QByteArrayView bytes, bool needBackslashes);
// The same rules on UTF-16 text.
QString EscapeWideString(QStringView text, bool needBackslashes);

// How a value is written.
struct TSqlValueOptions {
    bool UseUnicode = false;       // text goes out as UTF-8 (else in the 8-bit code page)
    bool NeedBackslashes = true;   // the server takes backslash escapes (no NO_BACKSLASH_ESCAPES)
};

// Appends one value as SQL text to an 8-bit buffer: NULL, a number, or a quoted and escaped
// string, depending on the data type. Raises EConvertError for a value the type cannot take
// (text in an integer parameter, a float that is not finite), never writes it unquoted.
void AppendValue(QByteArray& buffer, TDataType dataType, const Variant& value, bool isNull,
                 const TSqlValueOptions& options);
// The same as text (decoded from UTF-8 or from the 8-bit code page, as the options say).
QString ValueToSQL(TDataType dataType, const Variant& value, bool isNull,
                   const TSqlValueOptions& options);

// The literal forms of dates and times, without quotes: "2024-03-01", "2024-03-01 18:30:05",
// "-1:30:00". Milliseconds are kept (".250") when the value has any.
QString DateToSQLText(TDateTime value);
QString DateTimeToSQLText(TDateTime value);
QString TimeToSQLText(TDateTime value);

}  // namespace calvoro::dac
