#include "MyDump.h"

#include "ByteOutput.h"
#include "ParallelBackup.h"

#include "common/Exceptions.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyClasses.h"
#include "script/MyScript.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <string_view>

namespace calvoro::dump {

using dac::QuoteIdentifier;
using dac::QuoteObjectName;
using dac::TObjectName;
namespace p = protocol;

namespace {

// Whether an EXTRA text of information_schema.COLUMNS marks a generated column.
bool IsGeneratedExtra(const QString& extra) {
    static const QRegularExpression generated(QStringLiteral("\\b(VIRTUAL|STORED|PERSISTENT)\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    return generated.match(extra).hasMatch();
}

}  // namespace

// --- TCustomMyDumpProcessor ---

TCustomMyDumpProcessor::TCustomMyDumpProcessor(TMyDump& owner) : TDADumpProcessor(owner) {}

TCustomMyDumpProcessor::~TCustomMyDumpProcessor() = default;

TMyDump& TCustomMyDumpProcessor::MyOwner() const { return static_cast<TMyDump&>(FOwner); }

dac::TMySQLConnection& TCustomMyDumpProcessor::Driver() const {
    dac::TMySQLConnection* c = MyOwner().MyConnection()->MySQLConnection();
    if (!c) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    return *c;
}

QByteArray TCustomMyDumpProcessor::Encode(const QString& text) const { return Driver().Encode(text); }

QString TCustomMyDumpProcessor::Decode(const QByteArray& bytes) const { return Driver().Decode(bytes); }

TObjectName TCustomMyDumpProcessor::Given(const TObjectName& name) const {
    if (Driver().UseUnicode() || !FCharset.startsWith(QStringLiteral("utf8"), Qt::CaseInsensitive)) return name;
    return {Decode(name.Database.toUtf8()), Decode(name.Name.toUtf8())};
}

QString TCustomMyDumpProcessor::Q(const QString& raw) const { return DumpName(raw, FOptions.QuoteNames); }

QString TCustomMyDumpProcessor::Q(const TObjectName& name) const { return DumpName(name, FOptions.QuoteNames); }

void TCustomMyDumpProcessor::Query(const QString& sql, const std::function<void(TRows&)>& row,
                                   const std::function<void(TRows&)>& columns) {
    QueryRows(Driver(), sql, row, columns, &MyOwner());
}

std::optional<QByteArray> TCustomMyDumpProcessor::QueryValue(const QString& sql) {
    std::optional<QByteArray> value;
    Query(sql, [&](TRows& rows) {
        if (!value && rows.FieldCount() > 0 && !rows.IsNull(0)) value = rows.Bytes(0);
    });
    return value;
}

void TCustomMyDumpProcessor::BackupObjects(const QString& query) {
    TMyDump& owner = MyOwner();
    FOptions = owner.MyOptions();
    FObjects = owner.Objects();
    FTableStatus.clear();
    dac::TMySQLConnection& c = Driver();

    const QByteArray mode = QueryValue(QStringLiteral("SELECT @@SESSION.sql_mode")).value_or(QByteArray());
    const QByteArray zone = QueryValue(QStringLiteral("SELECT @@SESSION.time_zone")).value_or(QByteArray("SYSTEM"));
    Query(QStringLiteral("SET SESSION sql_mode = '', time_zone = '+00:00'"));
    bool snapshot = false;
    ScopeExit restoreSession([&] {
        // The session goes back to its own values, also after a failure; a failure to do so
        // (the connection is lost) is not the error the caller needs to see.
        try {
            if (snapshot) Query(QStringLiteral("COMMIT"));
            Query(QStringLiteral("SET SESSION sql_mode = %1, time_zone = %2")
                      .arg(StringLiteral(c.Decode(mode)), StringLiteral(c.Decode(zone))));
        } catch (const std::exception&) {
            // The backup's own error, if any, is the one that matters; without one the session
            // is gone, which the next statement on it reports.
        }
    });
    // Rows on several connections: each reading connection's work ends, and the spool files
    // go, on every way out of the backup.
    ScopeExit endReader([&] { FReader.reset(); });
    const int readers = owner.BackupConnections() > 1 ? owner.BackupConnections() : 0;
    if (readers > 0 && ToStream() && query.isNull() && FObjects.Has(doData) && owner.BackupConnectionFactory()) {
        QString refusal;
        auto connections = OpenSnapshotConnections(c, readers, owner.BackupConnectionFactory(), refusal);
        if (connections.empty()) {
            if (owner.OnNotice)
                owner.OnNotice(&owner, QStringLiteral("The backup runs on one connection: the account may not take the "
                                                      "global read lock that gives several connections one snapshot "
                                                      "(%1). Grant it RELOAD to read on several.")
                                           .arg(refusal));
        } else {
            snapshot = true;
            TParallelRowReader::TLimits limits;
            limits.Memory = qsizetype(std::max<qint64>(4096, FOptions.ReadAheadMemory));
            limits.Head = std::min(limits.Head, limits.Memory / 4);
            limits.Piece = std::min(limits.Piece, limits.Memory / 16);
            FReader = std::make_unique<TParallelRowReader>(std::move(connections), owner.SpoolFolder(),
                                                           FOptions.HexBlob, [&owner] { return owner.StopRequested(); },
                                                           limits);
        }
    }
    if (FOptions.SingleTransaction && !snapshot) {
        Query(QStringLiteral("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
        Query(QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT"));
        snapshot = true;
    }

    if (c.UseUnicode()) {
        FCharset = c.Utf8mb4Results() ? QStringLiteral("utf8mb4") : QStringLiteral("utf8");
    } else {
        FCharset = owner.MyConnection()->MyOptions().Charset();
        if (FCharset.isEmpty())
            FCharset = c.Decode(QueryValue(QStringLiteral("SELECT @@character_set_client")).value_or(QByteArray()));
    }
    // Statements of several rows stay within what the server takes in one packet, with room
    // for a long row's escapes beyond the limit the rows are measured against.
    constexpr qint64 kPacketHeadroom = 16 * 1024;
    const qint64 maxPacket = QueryValue(QStringLiteral("SELECT @@max_allowed_packet")).value_or(QByteArray("0")).toLongLong();
    FStatementLimit = std::max<qint64>(1024, FOptions.StatementSize);
    if (maxPacket > 2 * kPacketHeadroom) FStatementLimit = std::min(FStatementLimit, maxPacket - kPacketHeadroom);
    // The session's database as the server names it, in the form of the connection's texts.
    FDatabase = c.Decode(QueryValue(QStringLiteral("SELECT DATABASE()")).value_or(QByteArray()));

    if (FOptions.GenerateHeader) Header();
    Prologue();
    if (FObjects.Has(doDatabase)) BackupDatabase();
    if (FObjects.Has(doUsers)) BackupUsers();
    if (FObjects.Has(doStoredProcs)) BackupStoredProcs();

    const std::vector<TObject> objects = ListObjects(query);
    const int count = int(objects.size());
    // On several connections every table's rows are planned first, so that the readers start
    // while the structure is written.
    std::vector<TRowPlan> plans;
    if (FReader) {
        plans.resize(objects.size());
        for (int i = 0; i < count; ++i) {
            if (objects[size_t(i)].Kind != TKind::Table) continue;
            CheckStop();
            plans[size_t(i)] = PlanRows(objects[size_t(i)].Name, query);
            AddChunks(plans[size_t(i)]);
        }
        FReader->Start();
    }
    for (int i = 0; i < count; ++i) {
        if (objects[size_t(i)].Kind != TKind::Table) continue;
        if (!FObjects.Has(doTables) && !FObjects.Has(doData)) continue;
        CheckStop();
        BackupTable(objects[size_t(i)], i, count, query, plans.empty() ? nullptr : &plans[size_t(i)]);
        Add(QByteArrayView(""));
    }
    FReader.reset();
    if (FObjects.Has(doViews)) {
        // Views in an order that creates every view after the views it reads.
        QStringList names, texts;
        std::vector<int> indexes;
        for (int i = 0; i < count; ++i) {
            if (objects[size_t(i)].Kind != TKind::View) continue;
            indexes.push_back(i);
            names << objects[size_t(i)].Name.Name;
            texts << Decode(CreateText(objects[size_t(i)].Name));
        }
        for (const int k : ViewDependencyOrder(names, texts)) {
            CheckStop();
            const int i = indexes[size_t(k)];
            BackupView(objects[size_t(i)], i, count, Encode(texts[k]));
            Add(QByteArrayView(""));
        }
    }
    if (FObjects.Has(doTriggers)) BackupTriggers();
    Epilogue();
}

void TCustomMyDumpProcessor::Header() {
    TMyDump& owner = MyOwner();
    dac::TCustomMyConnection* c = owner.MyConnection();
    const QLocale locale;
    const QDateTime now = QDateTime::currentDateTime();
    Add(QStringLiteral("-- Ormadex version: %1").arg(TMyDump::LibraryVersion()));
    AddCommentLine(QStringLiteral("MySQL server version: %1").arg(c->GetServerVersion()));
    // Which family wrote the script, so that a restore elsewhere can tell what to expect.
    // MariaDB's greeting puts "5.5.5-" before its own version for old clients.
    QString version = c->GetServerVersion();
    if (version.startsWith(u"5.5.5-")) version.remove(0, 6);
    AddCommentLine(QStringLiteral("Server family: %1 %2")
                       .arg(version.contains(u"MariaDB", Qt::CaseInsensitive) ? QStringLiteral("MariaDB")
                                                                               : QStringLiteral("MySQL"),
                            version.section(u'-', 0, 0)));
    Add(QStringLiteral("-- MySQL client version: %1").arg(c->GetClientVersion()));
    Add(QStringLiteral("-- Script date %1 %2")
            .arg(locale.toString(now.date(), QLocale::ShortFormat), locale.toString(now.time(), QLocale::LongFormat)));
    Add(QStringLiteral("-- ") + QString(70, u'-') + u' ');
    AddCommentLine(QStringLiteral("Server: %1").arg(c->Server()));
    AddCommentLine(QStringLiteral("Database: %1").arg(FDatabase));  // as the connection carries it
    Add(QByteArrayView(""));
}

void TCustomMyDumpProcessor::Prologue() {
    if (!FCharset.isEmpty()) {
        Add(QByteArrayView("/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;"));
        Add(QByteArrayView("/*!40101 SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS */;"));
        Add(QByteArrayView("/*!40101 SET @OLD_COLLATION_CONNECTION=@@COLLATION_CONNECTION */;"));
        Add(QStringLiteral("/*!40101 SET NAMES %1 */;").arg(FCharset));
    }
    // Restored as read: TIMESTAMPs in UTC (no hour of a clock change is ambiguous), an
    // AUTO_INCREMENT value 0 kept, zero dates and backslash escapes taken.
    Add(QByteArrayView("/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */;"));
    Add(QByteArrayView("/*!40103 SET TIME_ZONE='+00:00' */;"));
    Add(QByteArrayView("/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;"));
    if (FObjects.Has(doTables) || FObjects.Has(doData) || FObjects.Has(doViews))
        Add(QByteArrayView("/*!40014 SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS, FOREIGN_KEY_CHECKS=0 */;"));
}

void TCustomMyDumpProcessor::Epilogue() {
    if (FObjects.Has(doTables) || FObjects.Has(doData) || FObjects.Has(doViews))
        Add(QByteArrayView("/*!40014 SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS */;"));
    Add(QByteArrayView("/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;"));
    Add(QByteArrayView("/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;"));
    if (!FCharset.isEmpty()) {
        Add(QByteArrayView("/*!40101 SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT */;"));
        Add(QByteArrayView("/*!40101 SET CHARACTER_SET_RESULTS=@OLD_CHARACTER_SET_RESULTS */;"));
        Add(QByteArrayView("/*!40101 SET COLLATION_CONNECTION=@OLD_COLLATION_CONNECTION */;"));
    }
}

std::vector<TCustomMyDumpProcessor::TObject> TCustomMyDumpProcessor::ListObjects(const QString& query) {
    std::vector<TObjectName> names;
    for (const TObjectName& name : MyOwner().Tables()) names.push_back(Given(name));
    if (!query.isNull() && names.empty()) {
        // The table the query reads first: the table of its first column, no row read.
        dac::TMyQuery probe;
        probe.SQL().SetText(query);
        probe.AddWhere(QStringLiteral("0=1"));
        TObjectName table;
        Query(probe.SQL().Text(), {}, [&](TRows& rows) {
            for (int i = 0; i < rows.FieldCount() && table.Name.isEmpty(); ++i) {
                const p::TMYSQL_FIELD& f = rows.Field(i);
                const QString name = Decode(QByteArray::fromStdString(f.OrgTable.empty() ? f.Table : f.OrgTable));
                if (name.isEmpty()) continue;
                const QString db = Decode(QByteArray::fromStdString(f.Database));
                table = {db == FDatabase ? QString() : db, name};
            }
        });
        if (table.Name.isEmpty()) throw EDatabaseError(QStringLiteral("The query reads no table"));
        names.push_back(table);
    }
    if (names.empty() && query.isNull()) {
        QStringList listed;
        MyOwner().MyConnection()->GetTableNames(listed);
        for (const QString& name : listed) names.push_back({QString(), name});
    }
    std::vector<TObject> objects;
    for (const TObjectName& name : names) objects.push_back({name, IsView(name) ? TKind::View : TKind::Table});
    return objects;
}

bool TCustomMyDumpProcessor::IsView(const TObjectName& name) {
    if (name.Name.isEmpty() || Driver().ServerVersion().Primary <= 4) return false;
    const QString db = name.Database.isEmpty() ? FDatabase : name.Database;
    auto status = FTableStatus.find(db);
    if (status == FTableStatus.end()) {
        // One status query per database serves the whole backup.
        status = FTableStatus.insert(db, {});
        Query(QStringLiteral("SHOW TABLE STATUS FROM ") + QuoteIdentifier(db), [&](TRows& rows) {
            // Name, Engine: a view has no engine.
            status->insert(rows.Text(0), rows.IsNull(1) ? QString() : rows.Text(1));
        });
    }
    const auto exact = status->constFind(name.Name);
    if (exact != status->constEnd()) return exact->isEmpty();
    // A typed name on a server that compares names without case.
    for (auto it = status->constBegin(); it != status->constEnd(); ++it)
        if (it.key().compare(name.Name, Qt::CaseInsensitive) == 0) return it->isEmpty();
    return false;
}

QString TCustomMyDumpProcessor::Engine(const TObjectName& name) {
    if (IsView(name)) return QString();
    const auto status = FTableStatus.constFind(name.Database.isEmpty() ? FDatabase : name.Database);
    if (status == FTableStatus.constEnd()) return QString();
    for (auto it = status->constBegin(); it != status->constEnd(); ++it)
        if (it.key() == name.Name || it.key().compare(name.Name, Qt::CaseInsensitive) == 0) return *it;
    return QString();
}

QByteArray TCustomMyDumpProcessor::CreateText(const TObjectName& name) {
    QByteArray text;
    Query(QStringLiteral("SHOW CREATE TABLE ") + QuoteObjectName(name), [&](TRows& rows) {
        if (text.isNull()) text = rows.Bytes(1);
    });
    return text;
}

void TCustomMyDumpProcessor::BackupTable(const TObject& object, int index, int count, const QString& query,
                                         const TRowPlan* plan) {
    QString x = Q(object.Name);
    const QString& db = object.Name.Database;
    const bool otherDatabase = !db.isEmpty() && db != FDatabase;
    Progress(x, index, count, 0);
    if (FObjects.Has(doTables)) {
        QByteArray create = CreateText(object.Name);
        if (otherDatabase) {
            // Within its structure section the table carries its database.
            x = QuoteObjectName(object.Name);
            const QByteArray bare = Encode(QuoteIdentifier(object.Name.Name));
            const qsizetype at = create.indexOf(bare);
            if (at >= 0) create.replace(at, bare.size(), Encode(x));
        }
        AddComment(QStringLiteral("Table structure for table  %1").arg(x));
        if (FOptions.AddDrop) Add(QStringLiteral("DROP TABLE IF EXISTS %1;").arg(x));
        AddText(create, ";");
        Add(QByteArrayView(""));
        Progress(x, index, count, 0);
    }
    if (FObjects.Has(doData)) BackupRows(x, object.Name, index, count, query, plan);
}

void TCustomMyDumpProcessor::BackupView(const TObject& object, int index, int count, const QByteArray& createText) {
    const QString x = Q(object.Name);
    Progress(x, index, count, 0);
    AddComment(QStringLiteral("Table structure for table  %1").arg(x));
    if (FOptions.AddDrop) Add(QStringLiteral("DROP VIEW IF EXISTS %1;").arg(x));
    const QByteArray text = FOptions.SkipDefiner ? Encode(StripDefiner(Decode(createText))) : createText;
    AddText(text, ";");
    Add(QByteArrayView(""));
    Progress(x, index, count, 0);
}

QByteArray TCustomMyDumpProcessor::InsertHead(const QString& x, const QString& columns) const {
    QString verb;
    const bool delayed = FOptions.UseDelayedIns;
    switch (FOptions.InsertType) {
        case itInsert: verb = delayed ? QStringLiteral("INSERT DELAYED INTO ") : QStringLiteral("INSERT INTO "); break;
        case itInsertIgnore:
            verb = delayed ? QStringLiteral("INSERT DELAYED IGNORE INTO ") : QStringLiteral("INSERT IGNORE INTO ");
            break;
        case itReplaceInto:
            verb = delayed ? QStringLiteral("REPLACE DELAYED INTO ") : QStringLiteral("REPLACE INTO ");
            break;
    }
    return Encode(verb + x + (columns.isNull() ? QStringLiteral(" VALUES") : u'(' + columns + QStringLiteral(") VALUES")));
}

TCustomMyDumpProcessor::TRowPlan TCustomMyDumpProcessor::PlanRows(const TObjectName& name, const QString& query) {
    // The columns that take values: generated ones are computed by the server, INVISIBLE ones
    // are not in SELECT *, a FLOAT is read as the double it converts to exactly.
    TRowPlan plan;
    const bool nameColumns = FOptions.CompleteInsert && query.isNull();
    const QString db = name.Database.isEmpty() ? FDatabase : name.Database;
    if (!query.isNull()) {
        plan.From = query;
        return plan;
    }
    QStringList selected, written, keys;
    bool skipped = false, integerKey = false;
    static const QStringList integers{QStringLiteral("tinyint"), QStringLiteral("smallint"),
                                      QStringLiteral("mediumint"), QStringLiteral("int"), QStringLiteral("bigint")};
    Query(QStringLiteral("SELECT COLUMN_NAME, DATA_TYPE, EXTRA, COLUMN_KEY FROM information_schema.COLUMNS "
                         "WHERE TABLE_SCHEMA = %1 AND TABLE_NAME = %2 ORDER BY ORDINAL_POSITION")
              .arg(StringLiteral(db), StringLiteral(name.Name)),
          [&](TRows& rows) {
              const QString column = rows.Text(0);
              const QString extra = rows.Text(2);
              const bool key = rows.Text(3) == u"PRI";
              if (key) keys << column;
              if (IsGeneratedExtra(extra)) {
                  skipped = true;
                  return;
              }
              if (key) integerKey = integers.contains(rows.Text(1), Qt::CaseInsensitive);
              if (extra.contains(QStringLiteral("INVISIBLE"), Qt::CaseInsensitive)) skipped = true;
              const bool single = rows.Text(1).compare(QStringLiteral("float"), Qt::CaseInsensitive) == 0;
              plan.IsFloat.push_back(single);
              const QString quoted = QuoteIdentifier(column);
              selected << (single ? quoted + QStringLiteral(" + 0E0") : quoted);
              written << DumpColumnName(column);
          });
    if (skipped || nameColumns) plan.ColumnList = written.join(QStringLiteral(", "));
    plan.From = QStringLiteral("SELECT %1 FROM %2").arg(selected.join(QStringLiteral(", ")), QuoteObjectName(name));
    const QString engine = Engine(name);
    if (keys.size() == 1 && integerKey &&
        (engine.compare(QStringLiteral("InnoDB"), Qt::CaseInsensitive) == 0 ||
         engine.compare(QStringLiteral("XtraDB"), Qt::CaseInsensitive) == 0))
        plan.KeyColumn = QuoteIdentifier(keys.front());

    // The progress within the table follows the server's row estimate: an exact COUNT(*)
    // would read the whole table once more. A query's rows are not estimated.
    plan.EstimatedRows = QueryValue(QStringLiteral("SELECT TABLE_ROWS FROM information_schema.TABLES WHERE "
                                                   "TABLE_SCHEMA = %1 AND TABLE_NAME = %2")
                                        .arg(StringLiteral(db), StringLiteral(name.Name)))
                             .value_or(QByteArray("0"))
                             .toLongLong();
    return plan;
}

void TCustomMyDumpProcessor::AddChunks(TRowPlan& plan) {
    plan.FirstChunk = -1;
    plan.ChunkCount = 0;
    const qint64 rangeRows = std::max<qint64>(1, FOptions.RangeRows);
    std::vector<__int128> bounds;
    if (!plan.KeyColumn.isEmpty() && plan.EstimatedRows > rangeRows) {
        // Ranges of equal width between the least and the greatest key, in the snapshot.
        std::optional<QByteArray> low, high;
        const QString sql = plan.From;
        const qsizetype from = sql.lastIndexOf(QStringLiteral(" FROM "));
        Query(QStringLiteral("SELECT MIN(%1), MAX(%1)").arg(plan.KeyColumn) + sql.mid(from), [&](TRows& rows) {
            if (!rows.IsNull(0)) low = rows.Bytes(0);
            if (!rows.IsNull(1)) high = rows.Bytes(1);
        });
        if (low && high) {
            const auto number = [](const QByteArray& text) {
                __int128 v = 0;
                const bool negative = text.startsWith('-');
                for (qsizetype i = negative ? 1 : 0; i < text.size(); ++i) v = v * 10 + (text[i] - '0');
                return negative ? -v : v;
            };
            const __int128 first = number(*low), last = number(*high);
            const qint64 ranges = std::min<qint64>(4096, (plan.EstimatedRows + rangeRows - 1) / rangeRows);
            const __int128 width = (last - first) / ranges + 1;
            for (qint64 i = 1; i < ranges && first + width * i <= last; ++i) bounds.push_back(first + width * i);
        }
    }
    const auto text = [](__int128 v) {
        const bool negative = v < 0;
        unsigned __int128 u = negative ? (unsigned __int128)(-(v + 1)) + 1 : (unsigned __int128)v;
        QByteArray digits;
        do {
            digits.prepend(char('0' + int(u % 10)));
            u /= 10;
        } while (u != 0);
        return QString::fromLatin1((negative ? QByteArray("-") : QByteArray()) + digits);
    };
    if (bounds.empty()) {
        plan.FirstChunk = FReader->Add(plan.Select(), plan.IsFloat);
        plan.ChunkCount = 1;
        return;
    }
    const QString order = QStringLiteral(" ORDER BY ") + plan.KeyColumn;
    for (size_t i = 0; i <= bounds.size(); ++i) {
        QString where;
        if (i == 0)
            where = QStringLiteral(" WHERE %1 < %2").arg(plan.KeyColumn, text(bounds[0]));
        else if (i == bounds.size())
            where = QStringLiteral(" WHERE %1 >= %2").arg(plan.KeyColumn, text(bounds[i - 1]));
        else
            where = QStringLiteral(" WHERE %1 >= %2 AND %1 < %3").arg(plan.KeyColumn, text(bounds[i - 1]), text(bounds[i]));
        const int chunk = FReader->Add(plan.From + where + order, plan.IsFloat);
        if (i == 0) plan.FirstChunk = chunk;
        ++plan.ChunkCount;
    }
}

void TCustomMyDumpProcessor::BackupRows(const QString& x, const TObjectName& name, int index, int count,
                                        const QString& query, const TRowPlan* planned) {
    AddComment(QStringLiteral("Dumping data for table %1").arg(x));
    if (FOptions.AddDrop && !FObjects.Has(doTables)) Add(QStringLiteral("TRUNCATE TABLE %1;").arg(x));

    const TRowPlan plan = planned ? *planned : PlanRows(name, query);
    const bool nameColumns = !plan.ColumnList.isNull();
    const QString& columnList = plan.ColumnList;
    const qint64 total = plan.EstimatedRows;
    Progress(x, index, count, 0);

    const QByteArray head = InsertHead(x, nameColumns ? columnList : QString());
    const bool locks = FOptions.AddLock && !FOptions.UseDelayedIns;
    const int batch = FOptions.CommitBatchSize;
    // Rows of a transactional table commit in bounded transactions: SET autocommit, unlike
    // BEGIN, keeps the table lock.
    static const QStringList transactional{QStringLiteral("InnoDB"), QStringLiteral("XtraDB"),
                                           QStringLiteral("TokuDB"), QStringLiteral("RocksDB"),
                                           QStringLiteral("ndbcluster")};
    const bool transactions = batch == 0 && FOptions.TransactionSize > 0 && query.isNull() &&
                              transactional.contains(Engine(name), Qt::CaseInsensitive);
    qint64 uncommitted = 0;
    const QByteArray lock = Encode(QStringLiteral("LOCK TABLES %1 WRITE;").arg(x));
    const QByteArray disable = Encode(QStringLiteral("/*!40000 ALTER TABLE %1 DISABLE KEYS */;").arg(x));
    const QByteArray enable = Encode(QStringLiteral("/*!40000 ALTER TABLE %1 ENABLE KEYS */;").arg(x));

    // One row is held back until the next is read: whether it is the last decides its end.
    // Appends literal text without a length scan.
    const auto put = [](QByteArray& to, std::string_view text) { AppendBytes(to, text.data(), qsizetype(text.size())); };
    QByteArray& row = RowBuffer();
    QByteArray& pending = PendingBuffer();
    bool hasPending = false, started = false, inStatement = false;
    qint64 rowNo = 0, length = 0;
    std::vector<TValueKind> kinds;
    const auto finish = [&](bool last) {
        if (FOptions.UseExtSyntax) {
            if (!inStatement) {
                if (batch > 0) Add(QByteArrayView("BEGIN;"));
                Add(head);
                length = head.size() + 2;
                inStatement = true;
            }
            length += pending.size() + 3;  // with its "," or ";" and the line break
            const bool ends = last || length > FStatementLimit - 2 * pending.size();
            AppendBytes(pending, ends ? ";" : ",", 1);
            Add(QByteArrayView(pending));
            if (ends) {
                if (batch > 0) Add(QByteArrayView("COMMIT;"));
                inStatement = false;
                uncommitted += length;
            }
        } else {
            if (batch > 0 && rowNo % batch == 1 % batch) Add(QByteArrayView("BEGIN;"));
            row.resize(0);
            row.append(head);
            put(row, " (");
            row.append(QByteArrayView(pending).sliced(3, pending.size() - 4));
            put(row, ");");
            Add(QByteArrayView(row));
            if (batch > 0 && (last || (rowNo + 1) % batch == 1 % batch)) Add(QByteArrayView("COMMIT;"));
            uncommitted += row.size() + 2;
        }
        if (transactions && !last && !inStatement && uncommitted >= FOptions.TransactionSize) {
            Add(QByteArrayView("COMMIT;"));
            uncommitted = 0;
        }
    };
    // Each row: the row before it ends its statement or not, the table's statements begin.
    const auto nextRow = [&] {
        CheckStop();
        if (hasPending) finish(false);
        if (!started) {
            if (locks) Add(lock);
            if (FOptions.DisableKeys) Add(disable);
            if (transactions) Add(QByteArrayView("SET autocommit=0;"));
            started = true;
        }
        ++rowNo;
        // An estimate may fall short: the last row's 100 comes after the rows.
        Progress(x, index, count, total > 0 ? int(std::min<qint64>(99, rowNo * 100 / total)) : 0);
        pending.resize(0);  // keeps its capacity for the next row
        hasPending = true;
    };
    if (planned && planned->ChunkCount > 0) {
        for (int k = 0; k < planned->ChunkCount; ++k)
            FReader->Read(planned->FirstChunk + k, [&](QByteArrayView literal) {
                nextRow();
                AppendBytes(pending, literal);
            });
    } else {
        Query(plan.Select(), [&](TRows& rows) {
            if (kinds.empty()) kinds = RowValueKinds(rows, plan.IsFloat);
            nextRow();
            AppendRowLiteral(pending, rows, kinds, FOptions.HexBlob);
        });
    }
    if (hasPending) finish(true);
    if (rowNo > 0) Progress(x, index, count, 100);
    if (started) {
        if (transactions) {
            Add(QByteArrayView("COMMIT;"));
            Add(QByteArrayView("SET autocommit=1;"));
        }
        if (FOptions.DisableKeys) Add(enable);
        if (locks) Add(QByteArrayView("UNLOCK TABLES;"));
    }
}

void TCustomMyDumpProcessor::AddSqlModeBefore(const QByteArray& sqlMode, const char* end) {
    Add(QByteArray("/*!50003 SET SESSION SQL_MODE=") + Encode(StringLiteral(Decode(sqlMode))) + " */" + end);
}

void TCustomMyDumpProcessor::AddSqlModeAfter(const char* end) {
    Add(QByteArray("/*!50003 SET SESSION SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */") + end);
}

void TCustomMyDumpProcessor::AddBody(const QByteArray& body) {
    if (EndsInLineComment(Decode(body)))
        AddText(body, "\r\n$$");
    else
        AddText(body, " $$");
}

// --- TMyDumpProcessor ---

void TMyDumpProcessor::BackupDatabase() {
    const QString d = Q(FDatabase);
    AddComment(QStringLiteral("Database %1 structure").arg(d));
    if (FOptions.AddDrop) {
        Add(QByteArrayView("USE mysql;"));
        Add(QStringLiteral("DROP DATABASE IF EXISTS %1;").arg(d));
    }
    // The database's character set and collation come with it.
    QByteArray create;
    Query(QStringLiteral("SHOW CREATE DATABASE ") + QuoteIdentifier(FDatabase), [&](TRows& rows) {
        if (create.isNull()) create = rows.Bytes(1);
    });
    if (create.isEmpty())
        Add(QStringLiteral("CREATE DATABASE %1;").arg(d));
    else
        AddText(create, ";");
    Add(QStringLiteral("USE %1;").arg(d));
    Add(QByteArrayView(""));
}

void TMyDumpProcessor::BackupUsers() {
    AddComment(QStringLiteral("User permissions"));
    // User and host as the server holds them, written as string literals. MariaDB lists its
    // roles there too (is_role), by name alone: they are created first, so that the grants of
    // a role and to a role restore.
    QStringList roles, accounts;
    Query(QStringLiteral("SELECT * FROM mysql.user"), [&](TRows& rows) {
        int user = -1, host = -1, role = -1;
        for (int i = 0; i < rows.FieldCount(); ++i) {
            const QString column = QString::fromStdString(rows.Field(i).Name);
            if (column.compare(QStringLiteral("User"), Qt::CaseInsensitive) == 0) user = i;
            if (column.compare(QStringLiteral("Host"), Qt::CaseInsensitive) == 0) host = i;
            if (column.compare(QStringLiteral("is_role"), Qt::CaseInsensitive) == 0) role = i;
        }
        if (user < 0 || host < 0) return;
        if (role >= 0 && !rows.IsNull(role) && rows.Text(role) == u"Y")
            roles << StringLiteral(rows.Text(user));
        else
            accounts << StringLiteral(rows.Text(user)) + u'@' + StringLiteral(rows.Text(host));
    });
    for (const QString& role : roles) Add(QStringLiteral("CREATE ROLE IF NOT EXISTS %1;").arg(role));
    for (const QString& grantee : roles + accounts) {
        // Every grant line: an account's database, table and column grants follow its first.
        try {
            Query(QStringLiteral("SHOW GRANTS FOR ") + grantee, [&](TRows& rows) {
                if (rows.FieldCount() > 0 && !rows.IsNull(0)) Add(rows.Bytes(0) + ';');
            });
        } catch (const dac::EMyError& e) {
            // An account or role dropped since the list was read has no grants left to write.
            if (e.ErrorCode() != protocol::ER_NONEXISTING_GRANT) throw;
        }
    }
    Add(QByteArrayView(""));
}

void TMyDumpProcessor::BackupStoredProcs() {
    std::vector<TObjectName> names;
    for (const TObjectName& name : MyOwner().StoredProcs())
        if (std::find(names.begin(), names.end(), Given(name)) == names.end()) names.push_back(Given(name));
    if (names.empty()) {
        QStringList listed;
        MyOwner().MyConnection()->GetStoredProcNames(listed);
        listed.removeDuplicates();
        for (const QString& name : listed) names.push_back({QString(), name});
    }
    const int count = int(names.size());
    for (int i = 0; i < count; ++i) {
        CheckStop();
        const QString& bare = names[size_t(i)].Name;
        const QString db = names[size_t(i)].Database.isEmpty() ? FDatabase : names[size_t(i)].Database;
        const QString n = Q(bare);
        Progress(n, i, count, 0);
        // A PROCEDURE and a FUNCTION may share a name: both are written.
        QStringList types;
        Query(QStringLiteral("SELECT ROUTINE_TYPE FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = %1 AND "
                             "ROUTINE_NAME = %2 ORDER BY ROUTINE_TYPE DESC")
                  .arg(StringLiteral(db), StringLiteral(bare)),
              [&](TRows& rows) { types << rows.Text(0); });
        for (const QString& type : types) {
            QByteArray mode, create;
            Query(QStringLiteral("SHOW CREATE %1 %2").arg(type, QuoteObjectName({db, bare})), [&](TRows& rows) {
                if (!create.isNull()) return;
                mode = rows.Bytes(1);
                create = rows.Bytes(2);
            });
            if (create.isNull()) continue;  // not readable for this user: SHOW CREATE gives no body
            if (FOptions.SkipDefiner) create = Encode(StripDefiner(Decode(create)));
            AddComment(QStringLiteral("StoredProc  %1").arg(n));
            AddSqlModeBefore(mode, ";");
            Add(QByteArrayView("DELIMITER $$"));
            if (FOptions.AddDrop) Add(QStringLiteral("DROP %1 IF EXISTS %2 $$").arg(type, n));
            AddBody(create);
            Add(QByteArrayView("DELIMITER ;"));
            AddSqlModeAfter(";");
            Add(QByteArrayView(""));
            Add(QByteArrayView(""));
        }
    }
}

void TMyDumpProcessor::WriteTriggers(const QString& sql) {
    struct TTrigger {
        QString Name, Event, Table, Timing;
        QByteArray Statement, SqlMode;
    };
    std::vector<TTrigger> triggers;
    Query(sql, [&](TRows& rows) {
        triggers.push_back({rows.Text(0), rows.Text(1), rows.Text(2), rows.Text(4), rows.Bytes(3),
                            rows.FieldCount() > 6 ? rows.Bytes(6) : QByteArray()});
    });
    if (triggers.empty()) return;
    Add(QByteArrayView("DELIMITER $$"));
    for (const TTrigger& t : triggers) {
        const QString g = Q(t.Name);
        AddComment(QStringLiteral("Trigger  %1").arg(g));
        if (FOptions.AddDrop && !FObjects.Has(doTables)) Add(QStringLiteral("DROP TRIGGER IF EXISTS %1 $$").arg(g));
        if (!t.SqlMode.isNull()) AddSqlModeBefore(t.SqlMode, " $$");
        Add(QStringLiteral("CREATE TRIGGER %1 %2 %3 ON %4 FOR EACH ROW").arg(g, t.Timing, t.Event, Q(t.Table)));
        AddBody(t.Statement);
        if (!t.SqlMode.isNull()) AddSqlModeAfter(" $$");
        Add(QByteArrayView(""));
    }
    Add(QByteArrayView("DELIMITER ;"));
}

void TMyDumpProcessor::BackupTriggers() {
    // Triggers and tables of the connection's database, by their name part.
    const std::vector<TObjectName>& chosen = MyOwner().Triggers();
    const std::vector<TObjectName>& tables = MyOwner().Tables();
    if (tables.empty() || !chosen.empty()) {
        QStringList names;
        for (const TObjectName& name : chosen) names << Given(name).Name;
        if (names.isEmpty()) MyOwner().MyConnection()->GetTriggerNames(names);
        const int count = int(names.size());
        for (int i = 0; i < count; ++i) {
            CheckStop();
            Progress(Q(names[i]), i, count, 0);
            WriteTriggers(QStringLiteral("SHOW TRIGGERS WHERE `trigger` = %1").arg(StringLiteral(names[i])));
            Add(QByteArrayView(""));
        }
        return;
    }
    const int count = int(tables.size());
    for (int i = 0; i < count; ++i) {
        CheckStop();
        const QString table = Given(tables[size_t(i)]).Name;
        Progress(Q(table), i, count, 0);
        WriteTriggers(QStringLiteral("SHOW TRIGGERS LIKE %1").arg(LikePatternLiteral(table)));
        Add(QByteArrayView(""));
    }
}

// --- TMyDump ---

TMyDump::TMyDump() { CreateComponents(); }

TMyDump::~TMyDump() = default;

dac::TCustomMyConnection* TMyDump::MyConnection() const {
    return static_cast<dac::TCustomMyConnection*>(Connection());
}

std::unique_ptr<TDADumpProcessor> TMyDump::CreateProcessor() { return std::make_unique<TMyDumpProcessor>(*this); }

std::unique_ptr<script::TDAScript> TMyDump::CreateScript() { return std::make_unique<script::TMyScript>(); }

std::unique_ptr<dac::TCustomDASQL> TMyDump::CreateCommand() { return std::make_unique<dac::TMyCommand>(); }

void TMyDump::SetBackupConnections(int count, TParallelRestore::TConnectionFactory factory) {
    FBackupConnections = std::max(1, count);
    FBackupFactory = std::move(factory);
}

void TMyDump::SetRestoreConnections(int count, TParallelRestore::TConnectionFactory factory) {
    FRestoreConnections = std::max(1, count);
    FConnectionFactory = std::move(factory);
}

std::unique_ptr<TParallelRestore> TMyDump::CreateParallelRestore(script::TDAScript& script) {
    if (FRestoreConnections <= 1 || !FConnectionFactory) return nullptr;
    // Statements waiting for a worker: about four of the longest a backup writes by default
    // (two bytes a character).
    constexpr qsizetype kQueueBytes = qsizetype(8) << 20;
    MyConnection()->Connect();
    auto parallel = std::make_unique<TParallelRestore>(script, *MyConnection(), FRestoreConnections,
                                                       FConnectionFactory, kQueueBytes);
    parallel->SectionBarriers = FRestoreStopsAtFailure;
    return parallel;
}

}  // namespace calvoro::dump
