#include "MyServices.h"

#include "MyParams.h"
#include "MyAccess.h"
#include "MyRecordset.h"
#include "MyServiceQuery.h"
#include "MySqlFormat.h"
#include "MySqlInfo.h"
#include "MyStatementScan.h"
#include "common/ScopeGuard.h"

#include <QRegularExpression>

#include <climits>

namespace calvoro::dac {

using namespace protocol;

namespace {

const QString CrLf = QStringLiteral("\r\n");

const TMySQLFieldDesc* MyDesc(const TFieldDesc* f) { return dynamic_cast<const TMySQLFieldDesc*>(f); }

// Fields whose values the server cannot be asked for by equality: BLOBs; values that change by
// themselves (TIMESTAMP); FLOAT, whose single-precision value never equals the double sent for
// it; temporal values with more fraction digits than the store keeps.
bool Matchable(const TFieldDesc& f) {
    if (IsBlobDataType(f.FDataType)) return false;
    const TMySQLFieldDesc* my = MyDesc(&f);
    if (!my) return true;
    if (my->FMySQLType == FIELD_TYPE_TIMESTAMP || my->FMySQLType == FIELD_TYPE_FLOAT) return false;
    const bool temporal = my->FMySQLType == FIELD_TYPE_DATETIME || my->FMySQLType == FIELD_TYPE_TIME;
    return !(temporal && my->FDecimals > 3);
}

}  // namespace

// --- TMySQLGenerator ---

QString TCustomMySQLGenerator::QuoteName(const QString& name, bool quoteNames) {
    return QuoteIdentifier(name, quoteNames);
}

bool TCustomMySQLGenerator::FieldChanged(const TGeneratorInput& in, const TFieldDesc& f) {
    const bool oldNull = in.Store->GetNull(f.FFieldNo, in.OldRecord);
    const bool newNull = in.Store->GetNull(f.FFieldNo, in.NewRecord);
    if (oldNull != newNull) return true;
    if (newNull) return false;
    if (IsBlobDataType(f.FDataType)) {
        const TBlob* blob = in.Store->GetBlob(f, in.NewRecord);
        return blob && blob->CanRollback();
    }
    return !(in.Store->GetFieldAsVariant(f.FFieldNo, in.OldRecord) == in.Store->GetFieldAsVariant(f.FFieldNo, in.NewRecord));
}

TGeneratedSQL TCustomMySQLGenerator::Generate(TStatementType type, const TGeneratorInput& in, bool modifiedOnly) const {
    if (in.TableName.isEmpty()) throw EDatabaseError(QStringLiteral("TableInfo name must be provided"));
    TGeneratedSQL out;
    QString& text = out.Text;
    const bool refresh = type == stRefresh;
    const bool named = refresh && (in.OwnParams || in.FullRefresh);
    auto name = [&](const TFieldDesc& f) { return QuoteName(f.FActualName, in.QuoteNames); };
    auto marker = [&](const TFieldDesc& f, bool old) {
        TDAParamInfo info{&f, old, QuoteName((old ? QStringLiteral("Old_") : QString()) + f.FName, in.QuoteNames)};
        if (named) {
            text += u':' + info.Name;
        } else {
            text += u'?';
            out.Positions.push_back(int(text.size()));
        }
        out.Params.push_back(info);
    };
    // Conditions on the old values (the current ones for a refresh).
    auto conditions = [&](bool rowVersion) {
        const uint8_t* values = refresh ? in.NewRecord : in.OldRecord;
        std::vector<const TFieldDesc*> fields = in.KeyFields;
        if (fields.empty() && in.IdentityField) fields.push_back(in.IdentityField);
        if (rowVersion) {
            if (in.TimestampField && !in.Store->GetNull(in.TimestampField->FFieldNo, values)) {
                fields.push_back(in.TimestampField);
            } else {
                for (const TFieldDesc* f : in.DataFields)
                    if (Matchable(*f) && std::find(fields.begin(), fields.end(), f) == fields.end()) fields.push_back(f);
            }
        }
        if (fields.empty())
            for (const TFieldDesc* f : in.DataFields)
                if (Matchable(*f)) fields.push_back(f);
        if (fields.empty()) throw EDatabaseError(QStringLiteral("Key fields not found"));
        for (size_t i = 0; i < fields.size(); ++i) {
            const TFieldDesc& f = *fields[i];
            if (i) text += QStringLiteral(" AND ");
            text += name(f);
            if (in.Store->GetNull(f.FFieldNo, values)) {
                const TMySQLFieldDesc* my = MyDesc(&f);
                text += refresh && my && my->FMySQLType == FIELD_TYPE_TIMESTAMP ? QStringLiteral(" = '00000000'")
                                                                                 : QStringLiteral(" IS NULL");
            } else {
                text += QStringLiteral(" = ");
                marker(f, !refresh);
            }
        }
    };

    switch (type) {
        case stInsert: {
            std::vector<const TFieldDesc*> fields;
            for (const TFieldDesc* f : in.DataFields)
                if (!modifiedOnly || !in.Store->GetNull(f->FFieldNo, in.NewRecord)) fields.push_back(f);
            text = QStringLiteral("INSERT INTO ") + in.TableName + CrLf + QStringLiteral("  (");
            for (size_t i = 0; i < fields.size(); ++i) text += (i ? QStringLiteral(", ") : QString()) + name(*fields[i]);
            text += u')' + CrLf + QStringLiteral("VALUES") + CrLf + QStringLiteral("  (");
            for (size_t i = 0; i < fields.size(); ++i) {
                if (i) text += QStringLiteral(", ");
                marker(*fields[i], false);
            }
            text += u')';
            return out;
        }
        case stUpdate: {
            std::vector<const TFieldDesc*> fields;
            for (const TFieldDesc* f : in.DataFields)
                if (!modifiedOnly || FieldChanged(in, *f)) fields.push_back(f);
            if (fields.empty()) return {};
            text = QStringLiteral("UPDATE ") + in.TableName + CrLf + QStringLiteral("SET") + CrLf + QStringLiteral("  ");
            for (size_t i = 0; i < fields.size(); ++i) {
                if (i) text += QStringLiteral(", ");
                text += name(*fields[i]) + QStringLiteral(" = ");
                marker(*fields[i], false);
            }
            text += CrLf + QStringLiteral("WHERE") + CrLf + QStringLiteral("  ");
            conditions(in.CheckRowVersion);
            return out;
        }
        case stDelete:
            text = QStringLiteral("DELETE FROM ") + in.TableName + CrLf + QStringLiteral("WHERE") + CrLf + QStringLiteral("  ");
            conditions(in.CheckRowVersion);
            return out;
        case stRefresh: {
            if (in.FullRefresh) {
                QString where;
                std::swap(where, text);
                conditions(false);
                std::swap(where, text);
                out.Positions.clear();
                text = AddWhere(in.OwnSQL, where);
                return out;
            }
            const auto& fields = in.DataFields.empty() ? in.KeyFields : in.DataFields;
            text = QStringLiteral("SELECT ");
            for (size_t i = 0; i < fields.size(); ++i)
                text += (i ? QStringLiteral(", ") : QString()) + name(*fields[i]) + QStringLiteral(" AS _") +
                        QString::number(fields[i]->FActualFieldNo);
            text += QStringLiteral(" FROM ") + in.TableName;
            if (!in.TableAlias.isEmpty()) text += u' ' + in.TableAlias;
            text += CrLf + QStringLiteral("WHERE") + CrLf + QStringLiteral("  ");
            conditions(false);
            return out;
        }
        case stLock:
            text = QStringLiteral("SELECT * FROM ") + in.TableName + CrLf + QStringLiteral("WHERE") + CrLf + QStringLiteral("  ");
            conditions(false);
            text += CrLf + (in.LockType == ilrImmediately ? QStringLiteral("FOR UPDATE") : QStringLiteral("LOCK IN SHARE MODE"));
            return out;
        case stRefreshQuick: {
            const auto* ts = MyDesc(in.TimestampField);
            if (!ts) throw EDatabaseError(QStringLiteral("Timestamp field required"));
            const TDateTime newest = ts->FTableInfo ? ts->FTableInfo->MaxTimestamp : 0;
            text = AddWhere(in.OwnSQL, name(*ts) + QStringLiteral(" >= '") + DateTimeToSQLText(newest) + u'\'');
            return out;
        }
        default:
            throw EDatabaseError(QStringLiteral("Bad statement type"));
    }
}

QString TMySQLGenerator::GenerateTableSQL(const TObjectName& table, const QString& orderFields, int limit, int offset,
                                          bool useHandler, const QString& handlerIndex, const QString& filter,
                                          bool protocol41) {
    const QString t = QuoteObjectName(table, false);
    if (!useHandler) {
        QString text = QStringLiteral("SELECT * FROM ") + t;
        if (!orderFields.isEmpty()) text += QStringLiteral(" ORDER BY ") + orderFields;
        if (limit >= 0 || offset != 0)
            text += QStringLiteral(" LIMIT %1, %2").arg(offset).arg(limit >= 0 ? limit : INT_MAX);
        return text;
    }
    QString text;
    if (protocol41) text = QStringLiteral("HANDLER ") + t + QStringLiteral(" OPEN; ");
    text += QStringLiteral("HANDLER ") + t + QStringLiteral(" READ");
    const QString index = handlerIndex.trimmed();
    if (index.isEmpty()) {
        text += QStringLiteral(" FIRST");
    } else {
        text += u' ' + index;
        const qsizetype rest = index.indexOf(u' ');
        const QString after = rest < 0 ? QString() : index.mid(rest).trimmed();
        if (!after.startsWith(u'=') && !after.startsWith(u'<') && !after.startsWith(u'>')) text += QStringLiteral(" FIRST");
    }
    if (!filter.isEmpty()) text += QStringLiteral(" WHERE ") + filter;
    text += QStringLiteral(" LIMIT %1, %2").arg(offset).arg(limit >= 0 ? limit : INT_MAX);
    if (protocol41) text += QStringLiteral("; HANDLER ") + t + QStringLiteral(" CLOSE");
    return text;
}

// --- TCustomMyDataSetService ---

TCustomMyDataSetService::TCustomMyDataSetService(TCustomMyDataSet& dataSet)
    : TDADataSetService(dataSet),
      FGenerator(std::make_unique<TMySQLGenerator>()),
      FUpdater(std::make_unique<TMyDataSetUpdater>(dataSet, *this)) {}

TCustomMyDataSetService::~TCustomMyDataSetService() = default;

TCustomMyDataSet& TCustomMyDataSetService::MyDataSet() const { return static_cast<TCustomMyDataSet&>(FDataSet); }

void TCustomMyDataSetService::ClearFieldsInfo() {
    FKeyFields.reset();
    FDataFields.reset();
    FUpdatingTable = nullptr;
    FIdentityField = FTimestampField = nullptr;
}

void TCustomMyDataSetService::AfterOpen() {
    ClearFieldsInfo();
    TCRTablesInfo& tables = FDataSet.RecordSet().TablesInfo();
    // Typed: [db.]table or an alias, parsed into raw parts.
    const QString typed = FDataSet.UpdatingTable().trimmed();
    if (!typed.isEmpty()) {
        const TObjectName wanted = ParseObjectName(typed);
        FUpdatingTable = tables.FindByName(wanted.Name);
        if (!FUpdatingTable && wanted.Database.isEmpty()) FUpdatingTable = tables.FindByAlias(wanted.Name);
        if (!FUpdatingTable) {
            if (tables.Count())
                throw EDatabaseError(QStringLiteral("Wrong UpdatingTable value - table %1 is unknown").arg(typed));
            // artificial: the query names none
            FUpdatingTable = &tables.Add(wanted.Name, QString(), wanted.Database);
        }
    } else if (tables.Count()) {
        FUpdatingTable = &tables[0];
    }
    const TFieldDescs& descs = FDataSet.Data().Fields();
    for (const auto& desc : descs) {
        const auto* f = MyDesc(desc.get());
        if (!f || f->FFieldDescKind != fdkData) continue;
        if (!FIdentityField && f->FIsAutoIncrement && f->FTableInfo == FUpdatingTable) FIdentityField = f;
        if (f->FMySQLType == FIELD_TYPE_TIMESTAMP) FTimestampField = f;
    }
    // What cannot be written to the updating table is read-only: columns of other tables of a
    // join and computed columns, so a change is refused instead of shown and never written.
    for (const auto& field : FDataSet.Fields())
        if (!Writable(field->Desc())) field->SetReadOnly(true);
}

bool TCustomMyDataSetService::Writable(const TFieldDesc& desc) const {
    const auto* f = dynamic_cast<const TCRFieldDesc*>(&desc);
    return f && FUpdatingTable && f->FFieldDescKind == fdkData && !f->FReadOnly && f->FTableInfo == FUpdatingTable;
}

bool TCustomMyDataSetService::CanWrite() const {
    if (!FUpdatingTable) return false;
    for (const auto& desc : FDataSet.Data().Fields())
        if (Writable(*desc)) return true;
    return false;
}

const std::vector<const TFieldDesc*>& TCustomMyDataSetService::DataFieldDescs() {
    if (!FDataFields) {
        FDataFields.emplace();
        for (const auto& desc : FDataSet.Data().Fields())
            if (Writable(*desc)) FDataFields->push_back(desc.get());
    }
    return *FDataFields;
}

const std::vector<const TFieldDesc*>& TCustomMyDataSetService::KeyFieldDescs() {
    if (FKeyFields) return *FKeyFields;
    std::vector<const TFieldDesc*> keys;
    const QString named = FDataSet.KeyFields().trimmed();
    if (!named.isEmpty()) {
        for (const QString& name : named.split(QRegularExpression(QStringLiteral("[;,]")), Qt::SkipEmptyParts))
            keys.push_back(&FDataSet.Data().FieldByName(name.trimmed()));
    } else if (FUpdatingTable) {
        keys = ServerKey();
    }
    FKeyFields = keys;
    return *FKeyFields;
}

std::vector<const TFieldDesc*> TCustomMyDataSetService::ServerKey() {
    // The index list of the updating table: the primary key, else a unique index whose columns
    // are all NOT NULL; either only when the result has every column of it.
    struct TIndex {
        QString Name;
        bool Unique = false, NotNull = true;
        QStringList Columns;
    };
    std::vector<TIndex> indexes;
    TGeneratorInput in = Input(nullptr);
    TGeneratedSQL show{QStringLiteral("SHOW INDEX FROM ") + in.TableName, {}, {}};
    try {
        FUpdater->Query(show, in, [&](TMySQLRecordset& rs, const uint8_t* record) {
            const QString key = rs.GetFieldAsVariant(rs.FieldByName(QStringLiteral("Key_name")).FFieldNo, record).AsString();
            if (indexes.empty() || indexes.back().Name != key) {
                indexes.push_back({key, false, true, {}});
                indexes.back().Unique =
                    rs.GetFieldAsVariant(rs.FieldByName(QStringLiteral("Non_unique")).FFieldNo, record).AsInt64() == 0;
            }
            TIndex& index = indexes.back();
            index.Columns << rs.GetFieldAsVariant(rs.FieldByName(QStringLiteral("Column_name")).FFieldNo, record).AsString();
            if (rs.GetFieldAsVariant(rs.FieldByName(QStringLiteral("Null")).FFieldNo, record).AsString() == u"YES")
                index.NotNull = false;
        });
    } catch (const EDAError& e) {
        if (e.IsFatalError()) throw;
        return {};  // no index list (a view, say): the row is matched on its values
    }
    auto fieldsOf = [&](const TIndex& index) {
        std::vector<const TFieldDesc*> fields;
        for (const QString& column : index.Columns) {
            const TFieldDesc* found = nullptr;
            for (const TFieldDesc* f : DataFieldDescs())
                if (f->FActualName.compare(column, Qt::CaseInsensitive) == 0) found = f;
            if (!found) return std::vector<const TFieldDesc*>();
            fields.push_back(found);
        }
        return fields;
    };
    for (const TIndex& index : indexes)
        if (index.Name == u"PRIMARY")
            if (auto fields = fieldsOf(index); !fields.empty()) return fields;
    for (const TIndex& index : indexes)
        if (index.Unique && index.NotNull)
            if (auto fields = fieldsOf(index); !fields.empty()) return fields;
    return {};
}

QStringList TCustomMyDataSetService::KeyFieldNames() {
    if (!FUpdatingTable) return {};
    QStringList names;
    for (const TFieldDesc* f : KeyFieldDescs()) names << f->FName;
    if (names.isEmpty() && FIdentityField) names << FIdentityField->FName;
    return names;
}

TGeneratorInput TCustomMyDataSetService::Input(const uint8_t* newRecord) {
    TCustomMyDataSet& ds = MyDataSet();
    TGeneratorInput in;
    if (FUpdatingTable) {
        in.TableName = TMySQLGenerator::QuoteName(FUpdatingTable->TableName, ds.Options().QuoteNames());
        if (!FUpdatingTable->Database.isEmpty())
            in.TableName = TMySQLGenerator::QuoteName(FUpdatingTable->Database, ds.Options().QuoteNames()) + u'.' + in.TableName;
        if (!FUpdatingTable->TableAlias.isEmpty())
            in.TableAlias = TMySQLGenerator::QuoteName(FUpdatingTable->TableAlias, ds.Options().QuoteNames());
    }
    in.QuoteNames = ds.Options().QuoteNames();
    in.CheckRowVersion = ds.MyOptions().CheckRowVersion();
    in.FullRefresh = ds.Options().FullRefresh() || ds.ReadOnly();
    in.OwnParams = ds.Params().Count() > 0;
    in.OwnSQL = ds.FinalSQL();
    in.IdentityField = FIdentityField;
    in.TimestampField = FTimestampField;
    in.Store = &ds.Data();
    const TItemHeader* current = ds.Data().CurrentItem();
    in.OldRecord = current ? current->Record() : nullptr;
    in.NewRecord = newRecord;
    return in;
}

// --- TCustomMyDataSetUpdater ---

TCustomMyDataSetUpdater::TCustomMyDataSetUpdater(TCustomMyDataSet& dataSet, TCustomMyDataSetService& service)
    : TDADataSetUpdater(dataSet), FService(service) {}

TCustomMyDataSet& TCustomMyDataSetUpdater::MyDataSet() const { return static_cast<TCustomMyDataSet&>(FDataSet); }

TGeneratorInput TCustomMyDataSetUpdater::RowInput(const uint8_t* newRecord) {
    TGeneratorInput in = FService.Input(newRecord);
    in.KeyFields = FService.KeyFieldDescs();
    in.DataFields = FService.DataFieldDescs();
    return in;
}

namespace {

bool SameParamName(const QString& a, const QString& b) {
    return TMySQLInfo::UnQuote(a).compare(TMySQLInfo::UnQuote(b), Qt::CaseInsensitive) == 0;
}

// A statement with named markers (or none) as one with "?" at known positions: names of the
// generated list keep their field, other names are the data set's own parameters.
TGeneratedSQL Positional(const TGeneratedSQL& sql) {
    if (!sql.Positions.empty()) return sql;
    const TParsedSQL parsed = ParseParamMarkers(sql.Text);
    TGeneratedSQL out{parsed.Text, {}, parsed.Positions};
    for (const TParamDesc& p : parsed.Params) {
        TDAParamInfo info{nullptr, false, p.FName};
        for (const TDAParamInfo& generated : sql.Params)
            if (SameParamName(generated.Name, p.FName)) info = generated;
        out.Params.push_back(info);
    }
    return out;
}

}  // namespace

std::vector<TParamDesc> TCustomMyDataSetUpdater::ParamValues(const TGeneratedSQL& sql, const TGeneratorInput& in) const {
    std::vector<TParamDesc> own;
    FDataSet.Command().WriteParamsTo(own);
    std::vector<TParamDesc> params;
    for (const TDAParamInfo& info : sql.Params) {
        TParamDesc& p = params.emplace_back();
        if (!info.Field) {
            for (const TParamDesc& o : own)
                if (SameParamName(o.FName, info.Name)) p = o;
            p.FName = info.Name;
            continue;
        }
        p.FName = info.Name;
        p.FParamType = ptInput;
        p.FDataType = info.Field->FDataType;
        const uint8_t* record = info.Old ? in.OldRecord : in.NewRecord;
        if (!record || in.Store->GetNull(info.Field->FFieldNo, record)) p.SetValue(Variant::Null());
        else p.SetValue(in.Store->GetFieldAsVariant(info.Field->FFieldNo, record));
    }
    return params;
}

int TCustomMyDataSetUpdater::Execute(const TGeneratedSQL& sql, const TGeneratorInput& in) {
    TMySQLCommand command;
    command.SetConnection(FDataSet.Connection()->GetIConnection());
    command.FComponent = &FDataSet;
    command.SetProp(prCommandTimeout, MyDataSet().CommandTimeout());
    command.SetStatement(sql.Text, ParamValues(sql, in), sql.Positions);
    command.Execute();
    return command.RowsAffected();
}

int TCustomMyDataSetUpdater::Query(const TGeneratedSQL& sql, const TGeneratorInput& in,
                             const std::function<void(TMySQLRecordset&, const uint8_t*)>& row) {
    TMyServiceQuery query(FDataSet.Connection()->GetIConnection(), &FDataSet, MyDataSet().CommandTimeout());
    const TGeneratedSQL statement = Positional(sql);
    query.SetStatement(statement.Text, ParamValues(statement, in), statement.Positions);
    if (!query.Execute()) return 0;
    return int(query.ForEachRow([&](const uint8_t* record) {
        if (row) row(query.RecordSet(), record);
    }));
}

int64_t TCustomMyDataSetUpdater::QueryValue(const QString& sql) {
    int64_t value = 0;
    bool first = true;
    Query({sql, {}, {}}, FService.Input(nullptr), [&](TMySQLRecordset& rs, const uint8_t* record) {
        if (first && rs.FieldCount() && !rs.GetNull(1, record)) value = rs.GetFieldAsVariant(1, record).AsInt64();
        first = false;
    });
    return value;
}

int TCustomMyDataSetUpdater::CountMatches(const TGeneratedSQL& where, const TGeneratorInput& in) {
    // The WHERE part of a DELETE, counted.
    const QString head = QStringLiteral("DELETE FROM ") + in.TableName;
    const QString count = QStringLiteral("SELECT COUNT(*) FROM ") + in.TableName;
    TGeneratedSQL sql = where;
    sql.Text = count + where.Text.mid(head.size());
    for (int& position : sql.Positions) position += int(count.size() - head.size());
    int64_t matches = 0;
    Query(sql, in, [&](TMySQLRecordset& rs, const uint8_t* record) { matches = rs.GetFieldAsVariant(1, record).AsInt64(); });
    return int(matches);
}

std::optional<TGeneratedSQL> TCustomMyDataSetUpdater::CustomStatement(TStatementType type) {
    TCustomMyDataSet& ds = MyDataSet();
    TStrings* lines = type == stInsert ? &ds.SQLInsert() : type == stUpdate ? &ds.SQLUpdate()
                      : type == stDelete                ? &ds.SQLDelete()
                      : type == stRefresh               ? &ds.SQLRefresh()
                      : type == stLock                  ? &ds.SQLLock()
                                                        : nullptr;
    if (!lines || !lines->Count()) return std::nullopt;
    QString text = lines->Text().trimmed();
    if (ds.Macros().Count()) text = ds.Macros().Expand(text);
    // The data set's own text: ":name" is the new value of a field, ":Old_name" the old one;
    // other names are the data set's parameters.
    const TParsedSQL parsed = ParseParamMarkers(text);
    TGeneratedSQL sql{parsed.Text, {}, parsed.Positions};
    for (const TParamDesc& p : parsed.Params) {
        const bool old = p.FName.startsWith(QStringLiteral("Old_"), Qt::CaseInsensitive);
        const TFieldDesc* f = ds.Data().FindField(old ? p.FName.mid(4) : p.FName);
        if (!f && !ds.FindParam(p.FName))
            throw EDatabaseError(QStringLiteral("Unknown data type of parameter %1").arg(p.FName));
        sql.Params.push_back({f, old, p.FName});
    }
    return sql;
}

void TCustomMyDataSetUpdater::Write(TStatementType type, const uint8_t* oldRecord, TRecBuf record) {
    TCustomMyDataSet& ds = MyDataSet();
    TGeneratorInput in = RowInput(record);
    in.OldRecord = oldRecord;
    const std::optional<TGeneratedSQL> custom = CustomStatement(type);
    TGeneratedSQL sql;
    if (custom) {
        sql = *custom;
    } else {
        if (!FService.UpdatingTable()) {
            if (ds.Options().StrictUpdate()) throw EDatabaseError(QStringLiteral("Update failed. Found %1 records").arg(0));
            return;
        }
        const bool modifiedOnly = !ds.Options().UpdateAllFields();
        sql = FService.SQLGenerator().Generate(type, in, modifiedOnly);
        if (sql.Text.isEmpty()) return;  // nothing changed: nothing to send
        if (type != stInsert && in.KeyFields.empty() && !in.IdentityField) {
            // No key: the row is matched on its values, which must match exactly one row; the
            // statement then changes at most that one.
            TGeneratedSQL where = FService.SQLGenerator().Generate(stDelete, in, false);
            const int matches = CountMatches(where, in);
            if (matches != 1)
                throw EDatabaseError(QStringLiteral("Update failed. Found %1 records in table %2").arg(matches).arg(in.TableName));
            sql.Text += CrLf + QStringLiteral("LIMIT 1");
        }
    }
    if (type != stInsert && ds.LockMode() == lmOptimistic && !FLockTransaction) Lock(ilrImmediately);
    // A row read back after the write: both in one transaction, so that a failing read leaves
    // the server as it was, like the row in memory.
    const bool readBack = (type == stInsert && (ds.RefreshOptions() & roAfterInsert)) ||
                          (type == stUpdate && (ds.RefreshOptions() & roAfterUpdate));
    const bool ownTransaction = readBack && !FLockTransaction && !ds.MyConnection()->MySQLConnection()->InTransaction();
    if (ownTransaction) ds.Connection()->ExecSQL(QStringLiteral("START TRANSACTION"));
    bool written = false;
    ScopeExit end([&] {
        if (ownTransaction) ds.Connection()->ExecSQL(written ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
    });
    const int rows = Execute(sql, in);
    ds.SetRowsAffected(rows);
    if (ds.Options().StrictUpdate() && rows != 1)
        throw EDatabaseError(QStringLiteral("Update failed. Found %1 records").arg(rows));
    if (type == stInsert) {
        Variant id = int64_t(0);
        ds.Connection()->GetIConnection()->GetProp(prLastInsertId, id);
        if (id.AsInt64() != 0) {
            ds.SetLastInsertId(id.AsInt64());
            if (FService.IdentityField()) ds.Data().PutFieldAsVariant(FService.IdentityField()->FFieldNo, record, id);
        }
    }
    if (readBack) RefreshInto(record, record);
    written = true;
}

const uint8_t* TCustomMyDataSetUpdater::CurrentRecord() const {
    const TItemHeader* current = FDataSet.Data().CurrentItem();
    return current ? current->Record() : nullptr;
}

void TCustomMyDataSetUpdater::PerformInsert(TRecBuf record) { Write(stInsert, nullptr, record); }

void TCustomMyDataSetUpdater::PerformUpdate(TRecBuf record) {
    if (FRefreshing) return;  // values read back from the server: nothing to write
    Write(stUpdate, CurrentRecord(), record);
}

void TCustomMyDataSetUpdater::PerformDelete() { Write(stDelete, CurrentRecord(), nullptr); }

void TCustomMyDataSetUpdater::PerformApplyRecord(TItemStatus kind) {
    // The cached row is the store's current item; an updated one keeps its values before the
    // first change.
    TItemHeader* item = FDataSet.Data().CurrentItem();
    switch (kind) {
        case isAppended: return Write(stInsert, nullptr, item->Record());
        case isUpdated: return Write(stUpdate, item->Rollback ? item->Rollback->Record() : item->Record(), item->Record());
        case isDeleted: return Write(stDelete, item->Record(), nullptr);
        default: return;
    }
}

bool TCustomMyDataSetUpdater::RefreshInto(TRecBuf record, const uint8_t* current) {
    TCustomMyDataSet& ds = MyDataSet();
    TGeneratorInput in = RowInput(const_cast<uint8_t*>(current));
    const std::optional<TGeneratedSQL> custom = CustomStatement(stRefresh);
    const TGeneratedSQL sql = custom ? *custom : FService.SQLGenerator().Generate(stRefresh, in, false);
    std::vector<std::pair<int, Variant>> values;  // field number, value
    const int rows = Query(sql, in, [&](TMySQLRecordset& rs, const uint8_t* row) {
        for (int i = 1; i <= rs.FieldCount(); ++i) {
            // "_n" names the field of result position n; a custom text names fields directly.
            const QString name = rs.Field(i).FName;
            const TFieldDesc* target = nullptr;
            if (name.startsWith(u'_')) {
                bool ok = false;
                const int index = name.mid(1).toInt(&ok);
                if (ok)
                    for (const auto& d : ds.Data().Fields())
                        if (d->FActualFieldNo == index) target = d.get();
            }
            if (!target) target = ds.Data().FindField(name);
            if (target) values.emplace_back(target->FFieldNo, rs.GetFieldAsVariant(i, row));
        }
    });
    if (rows == 0) return false;
    if (rows > 1 && ds.Options().StrictUpdate())
        throw EDatabaseError(QStringLiteral("Refresh failed. Found %1 records").arg(rows));
    for (auto& [fieldNo, value] : values) ds.Data().PutField(fieldNo, record, &value);
    return true;
}

bool TCustomMyDataSetUpdater::PerformRefreshRecord() {
    TMemData& store = FDataSet.Data();
    if (!store.CurrentItem()) return false;
    const TRecBufOwner owner = store.AllocRecBuf();
    const TRecBuf buf = owner.get();
    store.EditRecord(buf);
    bool posted = false;
    ScopeExit cancel([&] {
        if (!posted) store.CancelRecord(buf);
    });
    if (!RefreshInto(buf, buf)) return false;
    FRefreshing = true;
    ScopeExit reset([&] { FRefreshing = false; });
    store.PostRecord(buf);
    posted = true;
    return true;
}

void TCustomMyDataSetUpdater::RefreshChanged() {
    TCustomMyDataSet& ds = MyDataSet();
    TMemData& store = ds.Data();
    TGeneratorInput in = RowInput(nullptr);
    const TGeneratedSQL sql = FService.SQLGenerator().Generate(stRefreshQuick, in, false);
    // The data set's own text, restricted: the same columns in the same places.
    std::vector<std::vector<Variant>> rows;
    Query(sql, in, [&](TMySQLRecordset& rs, const uint8_t* row) {
        auto& values = rows.emplace_back();
        for (int i = 1; i <= rs.FieldCount() && i <= store.FieldCount(); ++i) values.push_back(rs.GetFieldAsVariant(i, row));
    });
    const QStringList keys = FService.KeyFieldNames();
    std::vector<int> keyNumbers;
    for (const QString& name : keys) keyNumbers.push_back(store.FieldByName(name).FFieldNo);

    // Values read back from the server: nothing is written.
    const bool wasLocal = ds.LocalUpdate();
    ds.SetLocalUpdate(true);
    ScopeExit local([&] { ds.SetLocalUpdate(wasLocal); });
    const TRecBufOwner owner = store.AllocRecBuf();
    const TRecBuf buf = owner.get();
    auto put = [&](const std::vector<Variant>& values) {
        for (size_t i = 0; i < values.size(); ++i) store.PutField(int(i) + 1, buf, &values[i]);
    };
    for (const std::vector<Variant>& values : rows) {
        std::vector<Variant> keyValues;
        for (int n : keyNumbers) keyValues.push_back(n <= int(values.size()) ? values[size_t(n - 1)] : Variant::Null());
        if (ds.Locate(keys, keyValues)) {
            store.EditRecord(buf);
            bool posted = false;
            ScopeExit cancel([&] {
                if (!posted) store.CancelRecord(buf);
            });
            put(values);
            store.PostRecord(buf);
            posted = true;
        } else {
            store.InitRecord(buf);
            store.CreateComplexFields(buf, true);
            bool inserted = false;
            ScopeExit drop([&] {
                if (!inserted) store.FreeComplexFields(buf, true);
            });
            put(values);
            store.AppendRecord(buf);
            inserted = true;
        }
    }
}

void TCustomMyDataSetUpdater::Lock(TLockRecordTypeI type) {
    TCustomMyDataSet& ds = MyDataSet();
    if (!ds.FetchAll()) throw EDatabaseError(QStringLiteral("Lock is not compatible with FetchAll = False"));
    TGeneratorInput in = RowInput(nullptr);
    in.LockType = type;
    const std::optional<TGeneratedSQL> custom = CustomStatement(stLock);
    const TGeneratedSQL sql = custom ? *custom : FService.SQLGenerator().Generate(stLock, in, false);
    const int rows = Query(sql, in, nullptr);
    if (rows != 1 && ds.Options().StrictUpdate())
        throw EDatabaseError(QStringLiteral("Refresh failed. Found %1 records").arg(rows));
}

void TCustomMyDataSetUpdater::BeforeEdit() {
    TCustomMyDataSet& ds = MyDataSet();
    if (ds.RefreshOptions() & roBeforeEdit) PerformRefreshRecord();
    if (ds.LockMode() != lmPessimistic) return;
    if (!ds.FetchAll()) throw EDatabaseError(QStringLiteral("Lock is not compatible with FetchAll = False"));
    ds.Connection()->ExecSQL(QStringLiteral("START TRANSACTION"));
    FLockTransaction = true;
    ScopeExit rollback([&] { AfterEditEnded(false); });
    Lock(ilrImmediately);
    rollback.Dismiss();
}

void TCustomMyDataSetUpdater::AfterEditEnded(bool posted) {
    if (!FLockTransaction) return;
    FLockTransaction = false;
    FDataSet.Connection()->ExecSQL(posted ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
}

}  // namespace calvoro::dac
