#include "CsvLoader.h"

#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyClasses.h"
#include "dataaccess/mysql/MySqlFormat.h"

#include <QIODevice>

namespace calvoro::import {

QString InsertStatementHead(const dac::TObjectName& table, const QStringList& columns) {
    QString head = QStringLiteral("INSERT INTO ") + dac::QuoteObjectName(table);
    if (!columns.isEmpty()) {
        head += QStringLiteral(" (");
        for (qsizetype i = 0; i < columns.size(); ++i) {
            if (i) head += u',';
            head += dac::QuoteIdentifier(columns[i]);
        }
        head += u')';
    }
    return head + QStringLiteral(" VALUES ");
}

void AppendRowValues(QString& statement, const std::vector<std::optional<QString>>& fields, bool backslashEscapes) {
    statement += u'(';
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) statement += u',';
        if (fields[i])
            statement += dac::EscapeWideString(*fields[i], backslashEscapes);
        else
            statement += QLatin1StringView("NULL");
    }
    statement += u')';
}

QString TImportReport::Summary() const {
    QString text = QStringLiteral("%1 rows loaded, %2 refused.").arg(RowsLoaded).arg(Refused.size());
    if (!Failure.isEmpty() || Stopped) {
        text += Stopped ? QStringLiteral(" Stopped: ") : QStringLiteral(" The load ended early: %1\n").arg(Failure);
        text += CommittedThroughLine > 0
                    ? QStringLiteral("the rows up to line %1 are committed; nothing after that line was loaded.")
                          .arg(CommittedThroughLine)
                    : QStringLiteral("no row was committed.");
    }
    return text;
}

TCsvLoader::TCsvLoader(dac::TCustomMyConnection& connection, dac::TObjectName table, QStringList columns,
                       TCsvFormat format)
    : FConnection(connection), FTable(std::move(table)), FColumns(std::move(columns)), FFormat(std::move(format)) {}

QStringList TCsvLoader::Columns() {
    if (FColumns.isEmpty()) {
        dac::TMyQuery query;
        query.SetConnection(&FConnection);
        query.SQL().SetText(QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(dac::QuoteObjectName(FTable)));
        query.Open();
        for (int i = 0; i < query.FieldCount(); ++i) FColumns << query.Fields()[i].FieldName();
        query.Close();
    }
    return FColumns;
}

void TCsvLoader::Exec(const QString& sql) {
    dac::TMyCommand command;
    command.SetConnection(&FConnection);
    command.ExecuteText(sql);
}

// A batch goes in as one statement; when the server refuses it, that transaction is rolled back
// and each row goes in alone, inside one transaction, so that only the refused rows are left out.
void TCsvLoader::Send(TBatch& batch, TImportReport& report) {
    if (batch.Rows.empty()) return;
    QString statement;
    statement.reserve(qsizetype(FHead.size() + batch.Bytes + qsizetype(batch.Rows.size())));
    statement += FHead;
    for (size_t i = 0; i < batch.Rows.size(); ++i) {
        if (i) statement += u',';
        statement += batch.Rows[i];
    }
    bool whole = true;
    {
        Exec(QStringLiteral("START TRANSACTION"));
        ScopeExit rollback([this] { Exec(QStringLiteral("ROLLBACK")); });
        try {
            Exec(statement);
        } catch (const dac::EMyError& e) {
            if (e.IsFatalError()) throw;
            whole = false;  // rolled back on leaving the scope
        }
        if (whole) {
            Exec(QStringLiteral("COMMIT"));
            rollback.Dismiss();
        }
    }
    if (whole) {
        report.RowsLoaded += int64_t(batch.Rows.size());
    } else {
        Exec(QStringLiteral("START TRANSACTION"));
        ScopeExit rollback([this] { Exec(QStringLiteral("ROLLBACK")); });
        int64_t loaded = 0;
        std::vector<TRefusedRow> refused;
        for (size_t i = 0; i < batch.Rows.size(); ++i) {
            try {
                Exec(FHead + batch.Rows[i]);
                ++loaded;
            } catch (const dac::EMyError& e) {
                if (e.IsFatalError()) throw;
                refused.push_back({batch.Lines[i], e.Message().trimmed()});
            }
        }
        Exec(QStringLiteral("COMMIT"));
        rollback.Dismiss();
        report.RowsLoaded += loaded;
        report.Refused.insert(report.Refused.end(), refused.begin(), refused.end());
    }
    batch = TBatch();
}

TImportReport TCsvLoader::Load(QIODevice& input, const std::function<void(const TImportProgress&)>& progress) {
    const QStringList columns = Columns();
    FHead = InsertStatementHead(FTable, FColumns);
    const bool backslashes = FConnection.NeedBackslashes();
    const qsizetype columnCount = columns.size();

    TImportReport report;
    TCsvReader reader(FFormat);
    TBatch batch;
    TCsvRecord record;
    QByteArray block;
    bool atEnd = false;
    // Refusals in line order: a batch's refused rows come after the malformed records read
    // while it filled, so they are merged when the batch is sent.
    std::vector<TRefusedRow> pendingRefused;
    const auto flush = [&] {
        const size_t before = report.Refused.size();
        Send(batch, report);
        std::vector<TRefusedRow> merged;
        std::merge(pendingRefused.begin(), pendingRefused.end(), report.Refused.begin() + qsizetype(before),
                   report.Refused.end(), std::back_inserter(merged),
                   [](const TRefusedRow& a, const TRefusedRow& b) { return a.Line < b.Line; });
        report.Refused.resize(before);
        report.Refused.insert(report.Refused.end(), merged.begin(), merged.end());
        pendingRefused.clear();
        if (progress) progress({reader.BytesFed(), report.RowsLoaded, int64_t(report.Refused.size())});
    };
    int64_t lastLine = 0;
    try {
        while (!atEnd && !report.Stopped) {
            block.resize(1 << 20);
            const qint64 n = input.read(block.data(), block.size());
            if (n < 0) throw Exception(QStringLiteral("Cannot read the input: %1").arg(input.errorString()));
            if (n == 0) {
                reader.Finish();
                atEnd = true;
            } else {
                reader.Feed(QByteArrayView(block.constData(), qsizetype(n)));
            }
            while (!report.Stopped && reader.Next(record)) {
                if (FStop) {
                    report.Stopped = true;
                    break;
                }
                if (!record.Error.isEmpty()) {
                    pendingRefused.push_back({record.Line, record.Error});
                } else if (qsizetype(record.Fields.size()) != columnCount) {
                    pendingRefused.push_back(
                        {record.Line, QStringLiteral("%1 fields where %2 columns are loaded")
                                          .arg(record.Fields.size())
                                          .arg(columnCount)});
                } else {
                    QString row;
                    AppendRowValues(row, record.Fields, backslashes);
                    batch.Bytes += row.size() + 1;
                    batch.Rows.push_back(std::move(row));
                    batch.Lines.push_back(record.Line);
                }
                if (batch.Bytes >= FStatementBytes) {
                    flush();
                    report.CommittedThroughLine = record.Line;
                }
                lastLine = record.Line;
            }
        }
        if (!report.Stopped) {
            flush();
            report.CommittedThroughLine = lastLine;
        }
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        // The batch under way is rolled back (or its connection is gone): the report says what
        // is in the table.
        const auto* error = dynamic_cast<const Exception*>(&e);
        report.Failure = error ? error->Message().trimmed() : QString::fromUtf8(e.what());
    }
    return report;
}

}  // namespace calvoro::import
