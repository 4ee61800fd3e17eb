#include "ExportWriters.h"

#include "common/Exceptions.h"
#include "dataaccess/mysql/MySqlFormat.h"

namespace calvoro::exporting {

namespace {

// Output is handed on in blocks of about this size.
constexpr qsizetype BlockSize = 1 << 16;

void AppendHex(QByteArray& out, QByteArrayView bytes) {
    static const char digits[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        out += digits[uint8_t(c) >> 4];
        out += digits[uint8_t(c) & 15];
    }
}

bool IsNumberKind(TExportKind kind) {
    return kind == TExportKind::Integer || kind == TExportKind::Decimal || kind == TExportKind::Float ||
           kind == TExportKind::Bit;
}

// Digits, an optional fraction and exponent, as a SQL number literal may be written.
bool IsSqlNumber(QByteArrayView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digits = [&] {
        const qsizetype start = i;
        while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start;
    };
    if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
    qsizetype count = digits();
    if (i < n && text[i] == '.') {
        ++i;
        count += digits();
    }
    if (count == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
        if (digits() == 0) return false;
    }
    return i == n;
}

// Whether the integer text is within ±(2^53 − 1), where a JSON reader's double holds it exactly.
bool IsSafeInteger(QByteArrayView text) {
    if (!text.empty() && text[0] == '-') text = text.sliced(1);
    if (text.size() > 16) return false;
    uint64_t v = 0;
    for (const char c : text) v = v * 10 + uint64_t(c - '0');
    return v <= (uint64_t(1) << 53) - 1;
}

// CSV and TSV: a header line of names, then a line per row with NULL as the marker and binary
// strings as 0x and hexadecimal when asked; how a value is written is the format's own.
class TDelimitedWriter : public TExportWriter {
public:
    TDelimitedWriter(const TExportOptions& o, TByteSink sink, char delimiter, const char* lineEnd, QByteArray null)
        : TExportWriter(std::move(sink)),
          FHeader(o.Header),
          FNull(std::move(null)),
          FLineEnd(lineEnd),
          FDelimiter(delimiter),
          FBinary(o.Binary) {}

    void Begin(const std::vector<TExportColumn>& columns) override {
        FColumns = columns;
        if (!FHeader) return;
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i) FBuffer += FDelimiter;
            AppendValue(columns[i].Name.toUtf8());
        }
        FBuffer += FLineEnd;
    }

    void Row(TExportRow cells) override {
        CheckRow(cells);
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i) FBuffer += FDelimiter;
            const TExportCell& cell = cells[i];
            if (cell.Null) {
                FBuffer += FNull;
            } else if (FColumns[i].Kind == TExportKind::Binary && FBinary == TBinaryForm::Hex) {
                FBuffer += "0x";
                AppendHex(FBuffer, cell.Bytes);
            } else {
                AppendValue(cell.Bytes);
            }
        }
        FBuffer += FLineEnd;
        Flush();
    }

protected:
    virtual void AppendValue(QByteArrayView value) = 0;

    bool FHeader;
    QByteArray FNull;
    const char* FLineEnd;
    char FDelimiter;
    TBinaryForm FBinary;
};

class TCsvWriter : public TDelimitedWriter {
public:
    TCsvWriter(const TExportOptions& o, TByteSink sink)
        : TDelimitedWriter(o, std::move(sink), o.Delimiter, o.CrLf ? "\r\n" : "\n",
                           o.NullMarker.value_or(QString()).toUtf8()) {}

private:
    // Quoted when it could not be read back as itself: it holds a delimiter, a quote or a line
    // break, it is empty (an empty unquoted field is NULL), or it reads as the NULL marker.
    void AppendValue(QByteArrayView value) override {
        bool quote = value.empty() || value == QByteArrayView(FNull);
        for (const char c : value)
            if (c == FDelimiter || c == '"' || c == '\r' || c == '\n') {
                quote = true;
                break;
            }
        if (!quote) {
            FBuffer += value;
            return;
        }
        FBuffer += '"';
        for (const char c : value) {
            if (c == '"') FBuffer += '"';
            FBuffer += c;
        }
        FBuffer += '"';
    }
};

class TTsvWriter : public TDelimitedWriter {
public:
    TTsvWriter(const TExportOptions& o, TByteSink sink)
        : TDelimitedWriter(o, std::move(sink), '\t', "\n", o.NullMarker ? o.NullMarker->toUtf8() : QByteArray("\\N")) {}

private:
    void AppendValue(QByteArrayView value) override {
        for (const char c : value) {
            switch (c) {
                case '\t': FBuffer += "\\t"; break;
                case '\n': FBuffer += "\\n"; break;
                case '\r': FBuffer += "\\r"; break;
                case '\\': FBuffer += "\\\\"; break;
                case '\0': FBuffer += "\\0"; break;
                default: FBuffer += c;
            }
        }
    }
};

class TJsonWriter : public TExportWriter {
public:
    explicit TJsonWriter(TByteSink sink) : TExportWriter(std::move(sink)) {}

    void Begin(const std::vector<TExportColumn>& columns) override {
        FColumns = columns;
        FKeys.clear();
        for (size_t i = 0; i < columns.size(); ++i) {
            QByteArray key;
            if (i) key += ',';
            AppendJsonString(key, columns[i].Name.toUtf8());
            key += ':';
            FKeys.push_back(key);
        }
        FBuffer += '[';
    }

    void Row(TExportRow cells) override {
        CheckRow(cells);
        FBuffer += FRows++ ? ",\n{" : "\n{";
        for (size_t i = 0; i < cells.size(); ++i) {
            FBuffer += FKeys[i];
            const TExportCell& cell = cells[i];
            if (cell.Null) {
                FBuffer += "null";
                continue;
            }
            switch (FColumns[i].Kind) {
                case TExportKind::Integer:
                case TExportKind::Bit:
                    // Beyond 2^53 a reader's double would round it: the digits as a string.
                    if (IsJsonNumber(cell.Bytes) && IsSafeInteger(cell.Bytes)) FBuffer += cell.Bytes;
                    else AppendJsonString(FBuffer, cell.Bytes);
                    break;
                case TExportKind::Float:
                    if (IsJsonNumber(cell.Bytes)) FBuffer += cell.Bytes;
                    else AppendJsonString(FBuffer, cell.Bytes);
                    break;
                case TExportKind::Binary:
                    FBuffer += '"';
                    FBuffer += cell.Bytes.toByteArray().toBase64();
                    FBuffer += '"';
                    break;
                default:  // DECIMAL stays exact as a string, as do dates and text
                    AppendJsonString(FBuffer, cell.Bytes);
            }
        }
        FBuffer += '}';
        Flush();
    }

    void End() override {
        FBuffer += FRows ? "\n]\n" : "]\n";
        TExportWriter::End();
    }

private:
    std::vector<QByteArray> FKeys;  // ,"name": per column
    qint64 FRows = 0;
};

class TSqlWriter : public TExportWriter {
public:
    TSqlWriter(const TExportOptions& o, TByteSink sink)
        : TExportWriter(std::move(sink)),
          FTable(o.Table),
          FRowsPerStatement(std::max(o.RowsPerStatement, 1)),
          FBackslashes(o.BackslashEscapes) {
        if (FTable.Name.isEmpty())
            throw EDatabaseError(QStringLiteral("SQL export needs the name of the table the rows go into."));
    }

    void Begin(const std::vector<TExportColumn>& columns) override {
        FColumns = columns;
        QString head = QStringLiteral("INSERT INTO ") + dac::QuoteObjectName(FTable) + QStringLiteral(" (");
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i) head += QStringLiteral(", ");
            head += dac::QuoteIdentifier(columns[i].Name);
        }
        head += QStringLiteral(") VALUES\n");
        FHead = head.toUtf8();
    }

    void Row(TExportRow cells) override {
        CheckRow(cells);
        if (FInStatement) FBuffer += ",\n";
        else FBuffer += FHead;
        FBuffer += '(';
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i) FBuffer += ", ";
            const TExportCell& cell = cells[i];
            const TExportKind kind = FColumns[i].Kind;
            if (cell.Null) {
                FBuffer += "NULL";
            } else if (kind == TExportKind::Binary) {
                FBuffer += "X'";
                AppendHex(FBuffer, cell.Bytes);
                FBuffer += '\'';
            } else if (IsNumberKind(kind) && IsSqlNumber(cell.Bytes)) {
                FBuffer += cell.Bytes;
            } else {
                dac::AppendEscapedString(FBuffer, cell.Bytes, FBackslashes);
            }
        }
        FBuffer += ')';
        if (++FInStatement == FRowsPerStatement) {
            FBuffer += ";\n";
            FInStatement = 0;
        }
        Flush();
    }

    void End() override {
        if (FInStatement) FBuffer += ";\n";
        FInStatement = 0;
        TExportWriter::End();
    }

private:
    dac::TObjectName FTable;
    int FRowsPerStatement;
    bool FBackslashes;
    QByteArray FHead;
    int FInStatement = 0;
};

}  // namespace

std::optional<TExportFormat> ExportFormatByName(const QString& name) {
    for (const TExportFormat f : {TExportFormat::Csv, TExportFormat::Tsv, TExportFormat::Json, TExportFormat::Sql})
        if (name.compare(ExportFormatName(f), Qt::CaseInsensitive) == 0) return f;
    return std::nullopt;
}

QString ExportFormatName(TExportFormat format) {
    switch (format) {
        case TExportFormat::Csv: return QStringLiteral("csv");
        case TExportFormat::Tsv: return QStringLiteral("tsv");
        case TExportFormat::Json: return QStringLiteral("json");
        case TExportFormat::Sql: return QStringLiteral("sql");
    }
    return {};
}

QString ExportFormatSuffix(TExportFormat format) { return ExportFormatName(format); }

TExportWriter::~TExportWriter() = default;

void TExportWriter::End() { Flush(true); }

void TExportWriter::Flush(bool force) {
    if (FBuffer.isEmpty() || (!force && FBuffer.size() < BlockSize)) return;
    FSink(FBuffer);
    FFlushed += FBuffer.size();
    FBuffer.clear();  // keeps its capacity
}

void TExportWriter::CheckRow(TExportRow cells) const {
    if (cells.size() != FColumns.size())
        InternalError("ExportWriters", QStringLiteral("a row of %1 cells for %2 columns").arg(cells.size()).arg(FColumns.size()));
}

std::unique_ptr<TExportWriter> NewExportWriter(const TExportOptions& options, TByteSink sink) {
    switch (options.Format) {
        case TExportFormat::Csv: return std::make_unique<TCsvWriter>(options, std::move(sink));
        case TExportFormat::Tsv: return std::make_unique<TTsvWriter>(options, std::move(sink));
        case TExportFormat::Json: return std::make_unique<TJsonWriter>(std::move(sink));
        case TExportFormat::Sql: return std::make_unique<TSqlWriter>(options, std::move(sink));
    }
    InternalError("ExportWriters", QStringLiteral("unknown export format"));
}

bool IsJsonNumber(QByteArrayView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digits = [&] {
        const qsizetype start = i;
        while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start;
    };
    if (i < n && text[i] == '-') ++i;
    if (i < n && text[i] == '0') ++i;
    else if (digits() == 0) return false;
    if (i < n && text[i] == '.') {
        ++i;
        if (digits() == 0) return false;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
        if (digits() == 0) return false;
    }
    return i == n;
}

void AppendJsonString(QByteArray& out, QByteArrayView utf8) {
    static const char digits[] = "0123456789abcdef";
    out += '"';
    const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    while (p < end) {
        const uint8_t c = *p;
        if (c < 0x80) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20) {
                        out += "\\u00";
                        out += digits[c >> 4];
                        out += digits[c & 15];
                    } else {
                        out += char(c);
                    }
            }
            ++p;
            continue;
        }
        // The length of the sequence and the range of its second byte (no overlong forms, no
        // surrogates, nothing above U+10FFFF).
        int length = 0;
        uint8_t low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        }
        bool valid = length && end - p >= length && p[1] >= low && p[1] <= high;
        for (int k = 2; valid && k < length; ++k) valid = p[k] >= 0x80 && p[k] <= 0xBF;
        if (!valid) {
            out += "\xEF\xBF\xBD";  // U+FFFD for the byte that starts no valid character
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), length);
        p += length;
    }
    out += '"';
}

}  // namespace calvoro::exporting
