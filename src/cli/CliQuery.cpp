#include "CliQuery.h"

#include "CliConnection.h"
#include "dataaccess/mysql/MyServiceQuery.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "export/ExportWriters.h"
#include "export/RecordRows.h"

#include <QSaveFile>

#include <charconv>
#include <functional>

namespace calvoro::cli {

using namespace dac;

void AppendBatchEscaped(std::string& out, std::string_view value) {
    for (const char c : value) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            case '\0': out += "\\0"; break;
            default: out += c;
        }
    }
}

namespace {

// One value of the current row. With FieldsAsString every column but the BLOB kinds holds
// the server's text as 8-bit bytes (UTF-8 here).
void AppendValue(std::string& out, TMySQLRecordset& rs, const TMySQLFieldDesc& f, const uint8_t* record) {
    if (rs.GetNull(f.FFieldNo, record)) {
        out += "NULL";
        return;
    }
    switch (f.FDataType) {
        case dtString:
        case dtExtString:
        case dtBytes:
        case dtVarBytes:
        case dtExtVarBytes: {
            const QByteArrayView bytes = rs.GetFieldBytes(f, record);
            if (f.FMySQLType == protocol::FIELD_TYPE_BIT) {
                // BIT: the number its bytes make, big-endian.
                uint64_t v = 0;
                for (const char c : bytes) v = (v << 8) | uint8_t(c);
                char digits[24];
                out.append(digits, size_t(std::to_chars(digits, digits + sizeof digits, v).ptr - digits));
                return;
            }
            AppendBatchEscaped(out, std::string_view(bytes.data(), size_t(bytes.size())));
            return;
        }
        case dtBlob:
        case dtMemo:
            rs.GetBlob(f, record)->ForEachPiece([&](std::span<const uint8_t> piece) {
                AppendBatchEscaped(out, std::string_view(reinterpret_cast<const char*>(piece.data()), piece.size()));
            });
            return;
        default: {
            const QByteArray text = rs.GetFieldAsVariant(f.FFieldNo, record).AsString().toUtf8();
            AppendBatchEscaped(out, std::string_view(text.constData(), size_t(text.size())));
            return;
        }
    }
}

using TSink = std::function<void(QByteArrayView)>;

void Write(const TSink& sink, std::string& buffer) {
    if (!buffer.empty()) sink(QByteArrayView(buffer.data(), qsizetype(buffer.size())));
    buffer.clear();
}

exporting::TExportOptions ExportOptions(const TCliOptions& o) {
    exporting::TExportOptions e;
    e.Format = *exporting::ExportFormatByName(o.Format);
    e.Header = o.Header;
    e.NullMarker = o.NullMarker;
    e.Binary = o.RawBinary ? exporting::TBinaryForm::Raw : exporting::TBinaryForm::Hex;
    if (!o.Table.isEmpty()) e.Table = dac::ParseObjectName(o.Table);
    e.RowsPerStatement = 100;
    return e;
}

}  // namespace

void RunQuery(const TCliOptions& o, FILE* out, FILE* err) {
    // Standard output, or a file that takes the place of FILE only when complete.
    std::unique_ptr<QSaveFile> file;
    if (!o.Output.isEmpty()) {
        file = std::make_unique<QSaveFile>(o.Output);
        if (!file->open(QIODevice::WriteOnly))
            throw Exception(QStringLiteral("Cannot write %1: %2").arg(o.Output, file->errorString()));
    }
    const TSink sink = [&](QByteArrayView bytes) {
        if (file) {
            if (file->write(bytes.data(), bytes.size()) != bytes.size())
                throw Exception(QStringLiteral("Cannot write %1: %2").arg(o.Output, file->errorString()));
        } else if (std::fwrite(bytes.data(), 1, size_t(bytes.size()), out) != size_t(bytes.size())) {
            throw Exception(QStringLiteral("calvoro-cli: cannot write the output"));
        }
    };
    const std::optional<exporting::TExportOptions> exportOptions =
        o.Format.isEmpty() ? std::nullopt : std::optional(ExportOptions(o));

    auto connection = NewConnection(o);
    connection->Connect();

    // The server's text of every value, read block by block, each result in turn.
    TMyServiceQuery query(connection->GetIConnection(), connection.get());
    TMySQLRecordset& rs = query.RecordSet();
    rs.FFieldsAsString = true;
    rs.FUniDirectional = true;
    rs.FCreateConnection = false;
    rs.FFetchAll = false;
    rs.FFetchRows = 1000;
    rs.FOpenNextMode = true;
    query.SetSQL(o.Sql);
    for (const auto& [name, value] : o.Params) {
        bool found = false;
        for (TParamDesc& p : query.Params())
            if (p.FName.compare(name, Qt::CaseInsensitive) == 0) {
                p.FDataType = dtWideString;
                p.SetValue(value);
                found = true;
            }
        if (!found) throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
    }
    if (o.Prepared) rs.Prepare();
    if (!query.Execute()) {
        std::fprintf(err, "Rows affected: %d\n", std::max(rs.RowsAffected(), 0));
        if (file && !file->commit())
            throw Exception(QStringLiteral("Cannot write %1: %2").arg(o.Output, file->errorString()));
        return;
    }

    std::string buffer;
    bool printed = false;  // a result printed rows already
    do {
        if (exportOptions) {
            // Each result whole, with its columns even when it has no rows.
            exporting::TRecordRowReader reader(rs);
            auto writer = exporting::NewExportWriter(*exportOptions, sink);
            writer->Begin(reader.Columns());
            const int64_t rows = query.ForEachRow([&](const uint8_t* record) { writer->Row(reader.Read(record)); });
            writer->End();
            std::fprintf(err, "%lld %s\n", static_cast<long long>(rows), rows == 1 ? "row" : "rows");
            continue;
        }
        // The line of column names comes with the first row: a result without rows prints
        // nothing, as mariadb --batch does.
        std::string header;
        for (int i = 1; i <= rs.FieldCount(); ++i) {
            if (i > 1) header += '\t';
            const QByteArray name = rs.Field(i).FName.toUtf8();
            AppendBatchEscaped(header, std::string_view(name.constData(), size_t(name.size())));
        }
        header += '\n';
        bool headerDone = false;
        const int64_t rows = query.ForEachRow([&](const uint8_t* record) {
            if (!headerDone) {
                if (printed) buffer += '\n';
                buffer += header;
                printed = headerDone = true;
            }
            for (int i = 1; i <= rs.FieldCount(); ++i) {
                if (i > 1) buffer += '\t';
                AppendValue(buffer, rs, static_cast<const TMySQLFieldDesc&>(rs.Field(i)), record);
            }
            buffer += '\n';
            if (buffer.size() >= 1 << 16) Write(sink, buffer);
        });
        Write(sink, buffer);
        std::fprintf(err, "%lld %s\n", static_cast<long long>(rows), rows == 1 ? "row" : "rows");
    } while (query.NextResult());
    if (file) {
        if (!file->commit()) throw Exception(QStringLiteral("Cannot write %1: %2").arg(o.Output, file->errorString()));
    } else {
        std::fflush(out);
    }
}

}  // namespace calvoro::cli
