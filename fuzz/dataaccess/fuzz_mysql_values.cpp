// The value conversions of MySQL results on arbitrary bytes: text and binary dates and times,
// numbers and UTF-8. Each ends or raises its documented error; a binary DATETIME or TIME and
// the server's text for it convert to the same value; UTF-8 decodes exactly when Qt's decoder
// finds it valid, and encodes back to the same bytes.
#include "FuzzCheck.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MySqlValues.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace calvoro;
using namespace calvoro::dac;
using namespace calvoro::protocol;
using calvoro::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (TMySqlFieldType type : {FIELD_TYPE_DATE, FIELD_TYPE_DATETIME, FIELD_TYPE_TIMESTAMP}) {
        try {
            const TMySqlDate d = MySqlTextToDate(type, text);
            if (d.Valid) Check(d.Value >= -693593 && d.Value < 2958466);  // years 1 to 9999
        } catch (const EConvertError&) {
        }
    }
    try {
        const TDateTime t = MySqlTextToTime(text, QStringLiteral("f"));
        Check(!text.empty() && text[0] == '-' ? t <= 0 : t >= 0);
    } catch (const EConvertError&) {
    }
    try {
        MySqlTextToInt(text);
    } catch (const EConvertError&) {
    }
    try {
        MySqlTextToFloat(text);
    } catch (const EConvertError&) {
    }

    // Binary values and the server's text for them.
    try {
        const TMySqlDate binary = MySqlBinaryToDate(data, size);
        const std::string shown = MySqlBinaryTemporalToText(FIELD_TYPE_DATETIME, 6, data, size);
        try {
            const TMySqlDate again = MySqlTextToDate(FIELD_TYPE_DATETIME, shown);
            Check(binary.Valid == again.Valid);
            if (binary.Valid) Check(binary.Value == again.Value);
        } catch (const EConvertError&) {
            Check(!binary.Valid);  // fields too large for their places are no date either way
        }
    } catch (const EConvertError&) {
    }
    try {
        const TDateTime binary = MySqlBinaryToTime(data, size);
        const std::string shown = MySqlBinaryTemporalToText(FIELD_TYPE_TIME, 6, data, size);
        const bool plain = size == 0 || (data[6] <= 59 && data[7] <= 59 &&
                                         uint64_t(data[1] | data[2] << 8 | data[3] << 16 | uint64_t(data[4]) << 24) * 24 +
                                                 data[5] <= 9999);
        if (plain) Check(MySqlTextToTime(shown, QStringLiteral("f")) == binary);
    } catch (const EConvertError&) {
    }

    const QByteArray bytes(text.data(), qsizetype(size));
    const bool validForQt = QString::fromUtf8(bytes).toUtf8() == bytes;
    try {
        const size_t units = MySqlUtf16Length(data, size);
        std::vector<char16_t> out(units + 1);
        Check(MySqlUtf8ToUtf16(data, size, out.data(), units) == units);
        Check(QString::fromUtf16(out.data(), qsizetype(units)).toUtf8() == bytes);
        Check(validForQt);
    } catch (const EConvertError&) {
        Check(!validForQt);
    }
    return 0;
}
