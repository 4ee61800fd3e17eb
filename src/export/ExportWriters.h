#pragma once
// Writers of a result as CSV, TSV, JSON or SQL INSERT statements: they take one row at a time
// and hand their bytes to a sink in blocks, so that a result of any size passes through a
// bounded buffer.
//
// CSV (RFC 4180): fields separated by the delimiter, records ended by CR LF (or LF); a field
// that holds the delimiter, a quote, CR or LF, or that equals the NULL marker, is quoted, with
// quotes doubled; an empty string is "", NULL an empty unquoted field (or the marker).
// TSV: fields separated by tab, records by LF; inside a value tab, LF, CR, backslash and NUL
// are written \t, \n, \r, \\ and \0, and NULL is \N (or the marker), as LOAD DATA reads them.
// JSON: an array of objects, one per row, keyed by column name; integers within ±(2^53 − 1)
// and floats as numbers, DECIMAL and larger integers as strings (exact), binary strings as
// base64, NULL as null; text that is not valid UTF-8 has U+FFFD in place of each bad byte.
// SQL: INSERT INTO table (columns) VALUES (…), (…); literals made by the data-access layer,
// names quoted by its identifier function.
// Binary strings in CSV and TSV are 0x and upper-case hexadecimal digits unless raw bytes
// are asked for.

#include "ExportTypes.h"
#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace calvoro::exporting {

enum class TExportFormat { Csv, Tsv, Json, Sql };

// "csv", "tsv", "json", "sql" (letter case ignored); nullopt for any other name.
std::optional<TExportFormat> ExportFormatByName(const QString& name);
QString ExportFormatName(TExportFormat format);
// The usual file suffix, without a dot.
QString ExportFormatSuffix(TExportFormat format);

enum class TBinaryForm { Hex, Raw };

struct TExportOptions {
    TExportFormat Format = TExportFormat::Csv;
    bool Header = true;                  // CSV, TSV: a first line of column names
    std::optional<QString> NullMarker;   // CSV, TSV: written for NULL; default empty / \N
    bool CrLf = true;                    // CSV: records end in CR LF (else LF)
    char Delimiter = ',';                // CSV
    TBinaryForm Binary = TBinaryForm::Hex;  // CSV, TSV
    dac::TObjectName Table;              // SQL: the table the rows go into
    int RowsPerStatement = 1;            // SQL: rows of one INSERT
    bool BackslashEscapes = true;        // SQL: the target session takes backslash escapes
};

class TExportWriter {
public:
    virtual ~TExportWriter();
    TExportWriter(const TExportWriter&) = delete;
    TExportWriter& operator=(const TExportWriter&) = delete;

    // The columns of the rows that follow; once, before them.
    virtual void Begin(const std::vector<TExportColumn>& columns) = 0;
    // One row, with a cell per column.
    virtual void Row(TExportRow cells) = 0;
    // After the last row: the rest of the output reaches the sink.
    virtual void End();

    // Bytes handed to the sink so far and waiting in the buffer.
    qint64 BytesWritten() const { return FFlushed + FBuffer.size(); }

protected:
    explicit TExportWriter(TByteSink sink) : FSink(std::move(sink)) {}
    // Hands the buffer to the sink once it holds a block's worth (or always with force).
    void Flush(bool force = false);
    // The cell count must match the columns (a programming error otherwise).
    void CheckRow(TExportRow cells) const;

    QByteArray FBuffer;
    std::vector<TExportColumn> FColumns;

private:
    TByteSink FSink;
    qint64 FFlushed = 0;
};

// A writer of the chosen format. Raises EDatabaseError for SQL without a table name.
std::unique_ptr<TExportWriter> NewExportWriter(const TExportOptions& options, TByteSink sink);

// Pieces, for the writers and their tests.
// Whether text is a number as JSON writes it: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJsonNumber(QByteArrayView text);
// Appends text as a JSON string (quotes included), with invalid UTF-8 bytes replaced.
void AppendJsonString(QByteArray& out, QByteArrayView utf8);

}  // namespace calvoro::exporting
