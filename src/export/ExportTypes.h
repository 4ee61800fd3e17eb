#pragma once
// What the result writers take: the columns of a result with the kind of their values, and
// rows of cells that hold the exact values the server sent (its text for numbers, dates and
// strings, the raw bytes of binary strings), one row at a time.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <span>
#include <vector>

namespace calvoro::exporting {

// How a column's values are written; decided from the column's MySQL type.
enum class TExportKind {
    Integer,   // decimal digits with an optional sign: TINYINT to BIGINT UNSIGNED, YEAR
    Decimal,   // exact decimal text (DECIMAL): never turned into a binary number
    Float,     // FLOAT and DOUBLE, as the server wrote them
    Bit,       // BIT: its value as a decimal number, as calvoro-cli query prints it
    Temporal,  // DATE, TIME, DATETIME, TIMESTAMP as the server wrote them
    Text,      // character strings in UTF-8
    Binary,    // bytes of the binary character set: BINARY, VARBINARY, BLOB, GEOMETRY
};

struct TExportColumn {
    QString Name;
    TExportKind Kind = TExportKind::Text;
};

// One value: NULL, or bytes (UTF-8 text for every kind but Binary). The bytes are only
// borrowed: they stay valid until the next row is read.
struct TExportCell {
    bool Null = true;
    QByteArrayView Bytes;
};

using TExportRow = std::span<const TExportCell>;

// Where the writers put their bytes: called with blocks of output in order. It raises to end
// the export (a full disk, a stop).
using TByteSink = std::function<void(QByteArrayView bytes)>;

}  // namespace calvoro::exporting
