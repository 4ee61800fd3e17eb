#include "MyRecordset.h"

#include "MySqlInfo.h"
#include "MySqlValues.h"
#include "MyStatementScan.h"
#include "common/CodePage.h"
#include "common/ScopeGuard.h"

#include <charconv>
#include <cstring>

namespace calvoro::dac {

using namespace protocol;

namespace {

constexpr int32_t BinaryCharset = 63;

bool IsBlobType(TMySqlFieldType t) {
    return t == FIELD_TYPE_TINY_BLOB || t == FIELD_TYPE_MEDIUM_BLOB || t == FIELD_TYPE_LONG_BLOB ||
           t == FIELD_TYPE_BLOB;
}

// Column types whose values are strings of bytes (not numbers or dates).
bool IsStringType(TMySqlFieldType t) {
    return IsBlobType(t) || t == FIELD_TYPE_VARCHAR || t == FIELD_TYPE_VAR_STRING || t == FIELD_TYPE_STRING ||
           t == FIELD_TYPE_ENUM || t == FIELD_TYPE_SET || t == FIELD_TYPE_GEOMETRY || t == FIELD_TYPE_JSON ||
           t == FIELD_TYPE_NULL;
}

bool IsTemporalType(TMySqlFieldType t) {
    return t == FIELD_TYPE_DATE || t == FIELD_TYPE_NEWDATE || t == FIELD_TYPE_DATETIME ||
           t == FIELD_TYPE_TIMESTAMP || t == FIELD_TYPE_TIME;
}

// The width of a binary integer value.
size_t IntWidth(TMySqlFieldType t) {
    switch (t) {
        case FIELD_TYPE_TINY: return 1;
        case FIELD_TYPE_SHORT: case FIELD_TYPE_YEAR: return 2;
        case FIELD_TYPE_LONG: case FIELD_TYPE_INT24: return 4;
        default: return 8;
    }
}

int64_t BinaryInt(const uint8_t* v, size_t width, bool isUnsigned) {
    uint64_t u = 0;
    for (size_t i = 0; i < width; ++i) u |= uint64_t(v[i]) << (8 * i);
    if (isUnsigned || width == 8) return int64_t(u);
    const uint64_t sign = uint64_t(1) << (8 * width - 1);
    return int64_t((u ^ sign) - sign);  // sign-extended
}

QString DecodeName(const std::string& bytes, bool unicode) {
    return unicode ? QString::fromUtf8(bytes.data(), qsizetype(bytes.size())) : AnsiToUnicode(bytes);
}

}  // namespace

// --- Type mapping ---

TMySQLMappedType MapFieldType(const TMYSQL_FIELD& field, const TMySQLMapOptions& o) {
    const uint32_t length = field.LengthInBytes;
    const bool binary = (field.Flags & BINARY_FLAG) != 0;
    const bool isUnsigned = (field.Flags & UNSIGNED_FLAG) != 0;
    const bool binaryCharset = field.CharsetNr == BinaryCharset;
    TMySQLMappedType m;
    switch (field._type) {
        case FIELD_TYPE_DECIMAL:
        case FIELD_TYPE_NEWDECIMAL: {
            // Decimals never pass through a double: exact decimal text unless the value fits
            // the 4-decimal currency form.
            const int precision = int(length) - 1 - (field.Decimals > 0 ? 1 : 0);
            const bool fitsBCD = precision <= 14 && field.Decimals <= 4;
            const bool bcd = o.EnableBCD && fitsBCD && (o.CheckPrecision || !o.EnableFMTBCD);
            m.DataType = bcd ? dtBCD : dtFMTBCD;
            break;
        }
        case FIELD_TYPE_TINY:
            m.DataType = length == 1 && o.EnableBoolean ? dtBoolean : isUnsigned ? dtWord : dtInt8;
            break;
        case FIELD_TYPE_SHORT: m.DataType = isUnsigned ? dtWord : dtSmallint; break;
        case FIELD_TYPE_LONG: m.DataType = isUnsigned ? dtUInt32 : dtInteger; break;
        case FIELD_TYPE_FLOAT:
        case FIELD_TYPE_DOUBLE: m.DataType = dtFloat; break;
        case FIELD_TYPE_NULL: m.DataType = dtString; break;
        case FIELD_TYPE_TIMESTAMP:
        case FIELD_TYPE_DATETIME: m.DataType = dtDateTime; break;
        case FIELD_TYPE_LONGLONG:
            // BIGINT UNSIGNED may exceed a signed 64-bit integer: exact decimal text.
            m.DataType = length <= 11 && o.OptimizedBigInt ? dtInteger : isUnsigned ? dtFMTBCD : dtLargeint;
            break;
        case FIELD_TYPE_BIT:
            m.DataType = length <= 11 && o.OptimizedBigInt ? dtInteger : length <= 63 ? dtLargeint : dtFMTBCD;
            break;
        case FIELD_TYPE_INT24: m.DataType = dtInteger; break;
        case FIELD_TYPE_DATE:
        case FIELD_TYPE_NEWDATE: m.DataType = dtDate; break;
        case FIELD_TYPE_TIME: m.DataType = dtTime; break;
        case FIELD_TYPE_YEAR: m.DataType = dtWord; break;
        case FIELD_TYPE_VARCHAR:
        case FIELD_TYPE_VAR_STRING:
            m.DataType = binary && binaryCharset && !o.BinaryAsString ? dtVarBytes : dtString;
            break;
        case FIELD_TYPE_ENUM:
        case FIELD_TYPE_SET: m.DataType = dtString; break;
        case FIELD_TYPE_TINY_BLOB:
        case FIELD_TYPE_MEDIUM_BLOB:
        case FIELD_TYPE_LONG_BLOB:
        case FIELD_TYPE_BLOB:
        case FIELD_TYPE_GEOMETRY:
            // By the character set: TEXT with a binary collation carries the BINARY flag too.
            m.DataType = binaryCharset ? dtBlob : dtMemo;
            break;
        case FIELD_TYPE_JSON: m.DataType = dtMemo; break;
        case FIELD_TYPE_STRING:
            m.DataType = binary && binaryCharset && !o.BinaryAsString ? dtBytes : dtString;
            m.Fixed = true;
            break;
        default:
            throw EDatabaseError(QStringLiteral("Unknown MySQL datatype (%1)").arg(field._type));
    }
    // Binary strings are bytes: never decoded. JSON is text whatever character set MySQL
    // names for it (binary, in MySQL 5.7).
    if (o.UseUnicode && (!binaryCharset || field._type == FIELD_TYPE_JSON)) {
        if (m.DataType == dtString) m.DataType = dtWideString;
        else if (m.DataType == dtMemo) m.DataType = dtWideMemo;
    }
    return m;
}

// --- TMySQLRecordset ---

TMySQLRecordset::TMySQLRecordset() : FCommand(std::make_unique<TMySQLCommand>()) {
    FCommand->FRequestResultset = true;
}

TMySQLRecordset::~TMySQLRecordset() {
    try {
        Close();
        UnPrepare();
    } catch (const std::exception&) {
        // Going away: the connection reports its own state to whoever uses it next.
    }
    if (FSQLResultNext) {
        FSQLResultNext = nullptr;  // belongs to the session, which frees it with itself
    }
    ReleaseAdditionalConnection();
}

void TMySQLRecordset::SetConnection(TCRConnection* connection) {
    if (FConnectionSwap) FConnectionSwap = dynamic_cast<TMySQLConnection*>(connection);
    else FCommand->SetConnection(connection);
}

void TMySQLRecordset::SetSQL(const QString& sql) { FCommand->SetSQL(sql); }

TMySQLConnection& TMySQLRecordset::Connection() const {
    TMySQLConnection* c = FCommand->MyConnection();
    if (!c || !c->Handle()) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    return *c;
}

const TMySQLRecordset::TConnectionValues& TMySQLRecordset::ConnectionValues() const {
    const TMySQLConnection* c = FCommand->MyConnection();
    if (c && c->Handle()) {
        FValues.UseUnicode = c->UseUnicode();
        FValues.Utf8mb4 = c->Utf8mb4Results();
        FValues.OptimizedBigInt = c->OptimizedBigInt();
        FValues.NullForZeroDelphiDate = c->NullForZeroDelphiDate();
        FValues.EnableBCD = c->EnableBCD();
        FValues.EnableFMTBCD = c->EnableFMTBCD();
        FValues.CheckPrecision = c->CheckPrecision();
        FValues.Server = c->ServerVersion();
    }
    return FValues;
}

TMySQLMapOptions TMySQLRecordset::MapOptions() const {
    const TConnectionValues& c = ConnectionValues();
    TMySQLMapOptions o;
    o.EnableBoolean = FEnableBoolean;
    o.OptimizedBigInt = c.OptimizedBigInt;
    o.BinaryAsString = FBinaryAsString;
    o.UseUnicode = c.UseUnicode;
    o.EnableBCD = FEnableBCD || c.EnableBCD;
    o.EnableFMTBCD = FEnableFMTBCD || c.EnableFMTBCD;
    o.CheckPrecision = c.CheckPrecision;
    return o;
}

void TMySQLRecordset::SetProp(int prop, const Variant& value) {
    switch (prop) {
        case prFieldsAsString: FFieldsAsString = value.AsBoolean(); break;
        case prNullForZeroDate: FNullForZeroDate = value.AsBoolean(); break;
        case prEnableBoolean: FEnableBoolean = value.AsBoolean(); break;
        case prBinaryAsString: FBinaryAsString = value.AsBoolean(); break;
        case prCreateConnection: FCreateConnection = value.AsBoolean(); break;
        case prUseHandler: FUseHandler = value.AsBoolean(); break;
        case prOpenNext: FOpenNextMode = value.AsBoolean(); break;
        case prCommandTimeout: FCommand->SetProp(prCommandTimeout, value); break;
        default: TCRRecordSet::SetProp(prop, value);
    }
}

bool TMySQLRecordset::GetProp(int prop, Variant& value) const {
    switch (prop) {
        case prFieldsAsString: value = FFieldsAsString; return true;
        case prNullForZeroDate: value = FNullForZeroDate; return true;
        case prEnableBoolean: value = FEnableBoolean; return true;
        case prBinaryAsString: value = FBinaryAsString; return true;
        case prCreateConnection: value = FCreateConnection; return true;
        case prUseHandler: value = FUseHandler; return true;
        case prOpenNext: value = FOpenNextMode; return true;
        case prRowsAffected: value = FCommand->RowsAffected(); return true;
        default: return TCRRecordSet::GetProp(prop, value);
    }
}

// --- Additional connection ---

void TMySQLRecordset::UseAdditionalConnection() {
    if (FAdditional || FFetchAll || !FCreateConnection) return;
    // Rows that stay pending keep a connection busy: they are read on one of their own, so
    // that the data set's connection stays free for other statements.
    TMySQLConnection& own = Connection();
    Variant timeout;
    FCommand->GetProp(prCommandTimeout, timeout);
    own.API().SetTimeout(own.Handle(), timeout.AsInteger());
    own.Ping();
    auto additional = std::make_unique<TMySQLConnection>();
    additional->Assign(own);
    additional->FComponent = own.FComponent;
    additional->Connect(QString());
    FConnectionSwap = &own;
    FAdditional = std::move(additional);
    FCommand->SetConnection(FAdditional.get());
}

void TMySQLRecordset::ReleaseAdditionalConnection() {
    if (!FAdditional) return;
    std::unique_ptr<TMySQLConnection> additional = std::move(FAdditional);
    FCommand->SetConnection(FConnectionSwap);
    FConnectionSwap = nullptr;
    additional->Disconnect();
}

// --- Cursor ---

void TMySQLRecordset::PrepareCursor() {
    UseAdditionalConnection();
    ScopeExit undo([&] {
        FCommand->Unprepare();
        ReleaseAdditionalConnection();
    });
    FCommand->Prepare();
    FCommandType = Connection().API().mysql_stmt_field_count(FCommand->Stmt()) ? ctCursor : ctStatement;
    undo.Dismiss();
}

void TMySQLRecordset::UnprepareCursor() {
    FCommand->Unprepare();
    FCommandType = ctUnknown;
    ReleaseAdditionalConnection();
}

PMYSQL_RES TMySQLRecordset::ResultMetadata() const {
    TMySQLAPI& api = Connection().API();
    if (FCommand->GetPrepared()) return api.mysql_stmt_result_metadata(FCommand->Stmt());
    return FCommand->SQLResult();
}

void TMySQLRecordset::ExecCommand() {
    FOpenNextState = osNotChecked;
    FResultIndex = 0;
    FSQLResultNext = nullptr;
    FResults.clear();
    FCurrentResult = FNextResult = -1;
    FFetchBroken = false;
    FWaitForBreak = false;
    UseAdditionalConnection();
    FCommand->FRequestResultset = true;
    FCommand->Execute();
    const bool prepared = FCommand->GetPrepared();
    if (FCommand->GetCursorState() == csExecuted) {
        FCommandType = ctCursor;
        FResults.push_back({true, -1});
        FCurrentResult = 0;
    } else if (prepared) {
        FCommandType = ctStatement;
        FResults.push_back({false, FCommand->RowsAffected()});
    } else {
        // No rows: a result of a later statement becomes the command's (an INSERT followed
        // by a SELECT opens the SELECT's rows).
        FResults.push_back({false, FCommand->RowsAffected()});
        CloseResult(true, false);
        if (FSQLResultNext) {
            FCommand->SetSQLResult(FSQLResultNext);
            FSQLResultNext = nullptr;
            FCurrentResult = FNextResult;
            FCommand->SetCursorState(csExecuted);
            FCommandType = ctCursor;
        } else {
            FCommandType = ctStatement;
            ReleaseAdditionalConnection();
        }
    }
    if (prepared) FFetchState = fsBOF;
}

bool TMySQLRecordset::RowsReturn() const {
    if (FCommandType != ctUnknown) return TCRRecordSet::RowsReturn();
    return FCommand->SQLResult() != nullptr || (FOpenNextMode && FSQLResultNext != nullptr);
}

void TMySQLRecordset::ExplicitInitFields() {
    if (FActive) return;
    if (FCommandType == ctCursor || FCommand->GetCursorState() == csExecuted) {
        InitFields();
        return;
    }
    // Runs the statement for no rows; its text and parameters are put back afterwards.
    const QString saved = FCommand->UserSQL();
    const std::vector<TParamDesc> params = FCommand->Params();
    ScopeExit restore([&] {
        FCommand->SetSQL(saved);
        FCommand->Params() = params;
        FCommandType = ctUnknown;
    });
    const TStatementScan scan(saved);
    if (!scan.IsProcCall()) {
        FCommand->SetSQL(AddLimit0(saved));
        FCommand->Params() = params;
    }
    ExecCommand();
    ScopeExit close([&] {
        SkipAllResults();
        FCommand->SetCursorState(FCommand->GetPrepared() ? csPrepared : csInactive);
    });
    InitFields();
}

void TMySQLRecordset::CloseCursor() {
    SkipAllResults();
    FCommand->SetCursorState(FCommand->GetPrepared() ? csPrepared : csInactive);
    if (!FCommand->GetPrepared()) {
        FCommandType = ctUnknown;
        ReleaseAdditionalConnection();
    }
}

void TMySQLRecordset::Disconnect() {
    if (!FCommand->GetPrepared()) {
        FCommand->SetSQLResult(nullptr);  // the session drops its results with itself
        FSQLResultNext = nullptr;
    }
    FCommand->SetCursorState(csInactive);
    TCRRecordSet::Disconnect();
}

void TMySQLRecordset::BreakFetch() { FWaitForBreak = true; }

void TMySQLRecordset::CloseResult(bool checkNext, bool breakFetch) {
    TMySQLConnection& c = Connection();
    TMySQLAPI& api = c.API();
    const TCursorState state = FCommand->GetCursorState();
    auto fetched = [&] {
        if (state == csExecuted || state == csFetching || state == csFetchingAll) FCommand->SetCursorState(csFetched);
    };
    if (FCommand->GetPrepared()) {
        // The remaining binary rows are read and dropped.
        if (FFetchState != fsEof && state != csInactive && FCommand->Stmt()) {
            FFetchState = fsEof;
            c.CheckStmt(FCommand->Stmt(), api.mysql_stmt_free_result(FCommand->Stmt()), FComponent);
        }
        fetched();
        return;
    }
    if (FCommand->SQLResult()) {
        if (breakFetch && FWaitForBreak) FCommand->BreakExec();
        FWaitForBreak = false;
        FCommand->FreeResult();  // drains what is left of the rows
        c.Check(FComponent);     // a failed drain leaves its error on the connection
        FOpenNextState = api.mysql_more_results(c.Handle()) ? osMoreResults : osNoMoreResults;
    } else if (FOpenNextState != osNoMoreResults) {
        FOpenNextState = api.mysql_more_results(c.Handle()) ? osMoreResults : osNoMoreResults;
    }
    if (checkNext && FOpenNextState == osMoreResults && !FSQLResultNext) {
        FRowsAffectedNext = -1;
        for (;;) {
            const int next = api.mysql_next_result(c.Handle());
            if (next == -1) {
                FOpenNextState = osNoMoreResults;
                break;
            }
            if (next > 0) {
                FOpenNextState = osError;
                FCommand->SetCursorState(csInactive);
                c.MySQLError(FComponent);
            }
            // The count of the last statement without rows is kept for the result after it.
            if (api.mysql_field_count(c.Handle()) == 0) {
                FRowsAffectedNext = int(api.mysql_affected_rows(c.Handle()));
                FResults.push_back({false, FRowsAffectedNext});
            } else {
                FSQLResultNext = api.mysql_use_result(c.Handle());
                c.Check(FSQLResultNext, FComponent);
                FResults.push_back({true, -1});
                FNextResult = int(FResults.size()) - 1;
                break;
            }
            if (!api.mysql_more_results(c.Handle())) {
                FOpenNextState = osNoMoreResults;
                break;
            }
        }
    }
    if (FOpenNextState == osNoMoreResults && !FActive) ReleaseAdditionalConnection();
    fetched();
}

void TMySQLRecordset::EndBrokenFetch() {
    FWaitForBreak = false;
    FCommand->KillQuery();
    try {
        SkipAllResults();
    } catch (const EMyError& e) {
        // The kill met a statement still at work (the one sending these rows, or one after
        // it): the interruption is what was asked for, and it ends the text there. Anything
        // else is a failure of its own.
        if (e.ErrorCode() != ER_QUERY_INTERRUPTED) throw;
    }
    FSQLResultNext = nullptr;
    FOpenNextState = osNoMoreResults;
    if (FCommand->GetPrepared()) FFetchState = fsEof;
    FCommand->SetCursorState(csFetched);
    FAllFetched = true;
    FFetchBroken = true;
}

void TMySQLRecordset::SkipAllResults() {
    if (!FCommand->MyConnection() || !FCommand->MyConnection()->Handle()) return;
    if (FCommand->GetPrepared()) {
        CloseResult(false, true);
        return;
    }
    for (;;) {
        CloseResult(true, true);
        if (!FSQLResultNext) break;
        FCommand->SetSQLResult(FSQLResultNext);
        FSQLResultNext = nullptr;
    }
}

bool TMySQLRecordset::OpenNext() {
    if (!FActive || FCommand->GetPrepared()) return false;
    if (FCommand->SQLResult()) CloseResult(true, true);
    if (!FSQLResultNext) return false;
    FCommand->SetSQLResult(FSQLResultNext);
    FCommand->SetRowsAffected(FRowsAffectedNext);
    FSQLResultNext = nullptr;
    FCurrentResult = FNextResult;
    ++FResultIndex;
    FCommand->SetCursorState(csExecuted);
    ClearData();
    InitFields();
    FAllFetched = false;
    FetchNextBlock();
    if (FFetchAll) FetchAll();
    return true;
}

// --- Descriptors ---

std::unique_ptr<TMySQLFieldDesc> TMySQLRecordset::DescribeField(const TMYSQL_FIELD& column, int index, bool show,
                                                                 bool describe, const TStatementScan& scan) {
    const TConnectionValues& c = ConnectionValues();
    const bool unicode = c.UseUnicode;
    const TServerVersion server = c.Server;
    const TMySqlFieldType type = column._type;
    const bool binaryCharset = column.CharsetNr == BinaryCharset && type != FIELD_TYPE_JSON;

    TMySQLMappedType m;
    if (FFieldsAsString && !IsBlobType(type) && type != FIELD_TYPE_GEOMETRY && type != FIELD_TYPE_JSON)
        m.DataType = dtString;
    else
        m = MapFieldType(column, MapOptions());
    TDataType dataType = m.DataType;
    uint32_t length = column.LengthInBytes;
    // Characters of a text column in UTF-16 units: a utf8mb4 character takes up to four bytes
    // and two units, a utf8mb3 one three bytes and one unit.
    if (unicode && !show && !binaryCharset &&
        (dataType == dtMemo || dataType == dtWideString || dataType == dtExtWideString || dataType == dtWideMemo))
        length /= c.Utf8mb4 ? 2 : 3;
    // As text, a number can be longer than its display width (TINYINT(1) holds -128, the
    // shortest text of a float may need more digits than it shows).
    if (FFieldsAsString) {
        switch (type) {
            case FIELD_TYPE_TINY: length = std::max<uint32_t>(length, 4); break;
            case FIELD_TYPE_SHORT: case FIELD_TYPE_YEAR: length = std::max<uint32_t>(length, 6); break;
            case FIELD_TYPE_INT24: length = std::max<uint32_t>(length, 8); break;
            case FIELD_TYPE_LONG: length = std::max<uint32_t>(length, 11); break;
            case FIELD_TYPE_LONGLONG: length = std::max<uint32_t>(length, 20); break;
            case FIELD_TYPE_FLOAT: case FIELD_TYPE_DOUBLE: length = std::max<uint32_t>(length, 32); break;
            default: break;
        }
    }
    // A computed string of the largest length: a memo.
    if (type == FIELD_TYPE_VAR_STRING && column.LengthInBytes == 65535 && column.Table.empty())
        dataType = binaryCharset ? dtBlob : unicode ? dtWideMemo : dtMemo;

    const QString name = DecodeName(column.Name, unicode);
    const QString lower = name.toLower();
    if (show) {
        if ((lower == u"privilege" || lower == u"context") && length < 30 && scan.Has({"SHOW", "PRIVILEGES"}))
            length = 40;
        if ((lower == u"state" || lower == u"command") && scan.Has({"SHOW", "PROCESSLIST"})) length *= 3;
        if (lower == u"slave_io_state" && length < 80 && scan.Has({"SLAVE", "STATUS"})) length = 80;
        if ((lower == u"slave_io_running" || lower == u"slave_sql_running") && length < 3 &&
            scan.Has({"SLAVE", "STATUS"}))
            length *= 3;
        if ((lower == u"last_error" || lower == u"last_io_error" || lower == u"last_sql_error") && length < 80 &&
            scan.Has({"SHOW", "SLAVE", "STATUS"}))
            length = 2048;
        if (lower == u"create table" && (server.Primary == 5 || (server.Primary == 4 && server.Minor == 0)) &&
            scan.Has({"CREATE"}))
            length = 65535;
        if (lower == u"create procedure" && server.Primary == 5 && scan.Has({"CREATE"})) length = 65535;
        if (server.Primary == 5 && server.Minor == 0 && scan.Has({"ENGINES"})) length = length * 3 + 1;
        if (server.Primary == 5 && server.Release > 51) {
            if (lower == u"user") length = 16;
            if (lower == u"host") length = 60;
        }
    }
    if (describe && lower == u"type") length = 65534;
    length = std::min<uint32_t>(length, 65535);
    if (!FLongStrings && length > 256) {
        if (dataType == dtString) dataType = binaryCharset ? dtString : dtMemo;
        else if (dataType == dtWideString) dataType = dtWideMemo;
    }
    if (!FFlatBuffers && (length >= 32 || length == 0)) {
        if (dataType == dtString) dataType = dtExtString;
        else if (dataType == dtBytes || dataType == dtVarBytes) dataType = dtExtVarBytes;
        else if (dataType == dtWideString) dataType = dtExtWideString;
    }

    auto f = std::make_unique<TMySQLFieldDesc>();
    f->FName = name;
    const QString table = DecodeName(column.Table, unicode);
    const QString orgTable = DecodeName(column.OrgTable, unicode);
    const QString orgName = DecodeName(column.OrgName, unicode);
    const bool aliased = !orgTable.isEmpty() && orgTable.compare(table, Qt::CaseInsensitive) != 0;
    // The column's own name: what an UPDATE of its table names, whatever alias the result gave.
    f->FActualName = orgName.isEmpty() ? name : orgName;
    if (!table.isEmpty()) {
        f->FTableInfo = &FTablesInfo.Add(orgTable.isEmpty() ? table : orgTable, aliased ? table : QString(),
                                         DecodeName(column.Database, unicode));
    }
    f->FMySQLType = type;
    f->FIsUnsigned = (column.Flags & UNSIGNED_FLAG) != 0;
    f->FDataType = dataType;
    f->FReadOnly = type == FIELD_TYPE_NULL;
    f->FIsAutoIncrement = (column.Flags & AUTO_INCREMENT_FLAG) != 0;
    f->FRequired = (column.Flags & NOT_NULL_FLAG) && !f->FIsAutoIncrement && type != FIELD_TYPE_TIMESTAMP;
    f->FIsBinary = (column.Flags & BINARY_FLAG) != 0;
    f->FIsKey = (column.Flags & (PRI_KEY_FLAG | UNIQUE_KEY_FLAG | MULTIPLE_KEY_FLAG | PART_KEY_FLAG)) != 0;
    f->FIsPrimaryKey = (column.Flags & PRI_KEY_FLAG) != 0;
    f->FFixed = m.Fixed;
    f->FFieldNo = uint16_t(index + 1);
    f->FActualFieldNo = uint16_t(index);
    f->FCharsetNr = column.CharsetNr;
    f->FDecimals = uint16_t(column.Decimals);
    f->FBinaryData = binaryCharset && (IsStringType(type) || type == FIELD_TYPE_BIT) && type != FIELD_TYPE_JSON;
    if (!IsBlobDataType(dataType)) f->FLength = uint16_t(length);
    switch (dataType) {
        case dtFloat: f->FScale = uint16_t(std::min<uint32_t>(column.Decimals, 31)); break;
        case dtBCD: f->FScale = uint16_t(column.Decimals); break;
        case dtFMTBCD:
            if (type == FIELD_TYPE_DECIMAL || type == FIELD_TYPE_NEWDECIMAL) {
                const int precision = int(column.LengthInBytes) - 1 - (column.Decimals > 0 ? 1 : 0);
                f->FLength = uint16_t(std::max(precision, 1));
                f->FScale = uint16_t(column.Decimals);
            } else {
                f->FLength = 20;  // 18446744073709551615
                f->FScale = 0;
            }
            // Room for the sign, every digit, the point and a NUL.
            f->FSize = std::max<uint32_t>(f->FLength + 3u, column.LengthInBytes + 2u);
            break;
        default: break;
    }
    return f;
}

void TMySQLRecordset::DescribeColumns(const std::vector<TMYSQL_FIELD>& columns, const QString& sql) {
    const TStatementScan scan(sql);
    const bool show = scan.IsShow();
    const TServerVersion server = ConnectionValues().Server;
    const bool describe = server.Primary < 5 && (scan.Has({"EXPLAIN"}) || scan.Has({"DESCRIBE"}));
    FIsCanFastClose = false;
    FConv.clear();
    // The tables in the order the statement names them, completed by what the columns say.
    for (const auto& t : scan.FromTables()) FTablesInfo.Add(t.Table, t.Alias, t.Database);
    for (size_t i = 0; i < columns.size(); ++i) {
        std::unique_ptr<TMySQLFieldDesc> f = DescribeField(columns[i], int(i), show, describe, scan);
        Fields().Add(std::move(f));
    }
    // SHOW COLUMNS and DESC: the Type column holds long type texts.
    if (scan.Has({"SHOW", "COLUMNS"}) || scan.Has({"DESC"}) || scan.Has({"DESCRIBE"})) {
        for (const auto& f : Fields()) {
            if (f->FName.compare(QLatin1String("Type"), Qt::CaseInsensitive) != 0 || IsBlobDataType(f->FDataType))
                continue;
            f->FLength = 256;
            f->FSize = 0;
            if (!FLongStrings)
                f->FDataType = f->FDataType == dtWideString || f->FDataType == dtExtWideString ? dtWideMemo : dtMemo;
        }
    }
    // How each value is converted.
    for (const auto& desc : Fields()) {
        const auto& f = static_cast<const TMySQLFieldDesc&>(*desc);
        TConv conv = TConv::Null;
        switch (f.FDataType) {
            case dtString: case dtExtString:
                conv = FFieldsAsString && !IsStringType(f.FMySQLType) && f.FMySQLType != FIELD_TYPE_BIT &&
                               f.FMySQLType != FIELD_TYPE_NEWDECIMAL && f.FMySQLType != FIELD_TYPE_DECIMAL
                           ? TConv::Text
                           : TConv::Bytes;
                break;
            case dtBytes: case dtVarBytes: case dtExtVarBytes: conv = TConv::Bytes; break;
            case dtWideString: case dtExtWideString: conv = TConv::Wide; break;
            case dtBlob: case dtMemo: conv = TConv::Blob; break;
            case dtWideMemo: conv = TConv::WideMemo; break;
            case dtInt8: case dtSmallint: case dtInteger: case dtWord: case dtBoolean: case dtLargeint:
            case dtUInt32:
                conv = TConv::Int;
                break;
            case dtFloat: conv = TConv::Float; break;
            case dtFMTBCD: conv = TConv::Decimal; break;
            case dtBCD: conv = TConv::BCD; break;
            case dtDate: case dtDateTime: conv = TConv::Date; break;
            case dtTime: conv = TConv::Time; break;
            default: conv = TConv::Null; break;
        }
        FConv.push_back(conv);
    }
}

void TMySQLRecordset::CreateFieldDescs() {
    if (FCommandType != ctCursor) return;
    PMYSQL_RES result = ResultMetadata();
    if (!result) return;
    TMySQLAPI& api = Connection().API();
    const bool unicode = Connection().UseUnicode();
    std::vector<TMYSQL_FIELD> columns;
    const unsigned count = api.mysql_num_fields(result);
    columns.reserve(count);
    for (unsigned i = 0; i < count; ++i) columns.push_back(api._mysql_fetch_field_direct(result, i, unicode));
    FTablesInfo.Clear();
    DescribeColumns(columns, FCommand->UserSQL());
    if (FAdditional && !FFetchAll) {
        const TStatementScan scan(FCommand->UserSQL());
        FIsCanFastClose = scan.Has({"SELECT"}) && !FCommand->UserSQL().contains(u';');
    }
}

// --- Rows ---

bool TMySQLRecordset::FetchNextBlock() {
    if (FFields.Count() == 0) {
        CloseResult(false, false);
        FAllFetched = true;
        throw EDatabaseError(QStringLiteral("Query must return exactly result set - use Execute"));
    }
    TMySQLConnection& c = Connection();
    TMySQLAPI& api = c.API();
    const bool prepared = FCommand->GetPrepared();
    const TCursorState state = FCommand->GetCursorState();
    const bool canRead = state != csInactive && state != csFetched &&
                         (prepared ? FFetchState != fsEof : FCommand->SQLResult() != nullptr);
    if (!canRead) {
        FAllFetched = true;
        return false;
    }
    if (FWaitForBreak) {
        EndBrokenFetch();
        return false;
    }
    if (state == csExecuted) FCommand->SetCursorState(csFetching);
    if (FOnBeforeFetch) {
        bool cancel = false;
        FOnBeforeFetch(cancel);
        if (cancel) return false;
    }
    if (FUniDirectional && FFirstItem) {
        // Only the current block is kept: the rows read before go.
        const int32_t count = FRecordCount;
        ClearData();
        FRecordNoOffset += count;
    }

    const int rows = std::clamp(FFetchRows, 1, 65535);
    TBlockHeader* block = FBlockMan.AllocBlock(uint16_t(rows));
    int count = 0;
    TItemHeader* first = nullptr;
    TItemHeader* last = nullptr;
    TItemHeader* converting = nullptr;
    ScopeExit failed([&] {
        // Rows converted so far go with the block; the result is closed and the store is at
        // its end.
        if (converting) FreeComplexFields(converting->Record(), true);
        for (TItemHeader* item = first; item; item = item->Next) FreeComplexFields(item->Record(), true);
        FBlockMan.FreeBlock(block);
        FAllFetched = true;
        try {
            CloseResult(false, false);
        } catch (const std::exception&) {
            // The conversion's error is the one reported; the connection keeps its own state.
        }
    });
    bool end = false;
    if (prepared && FFetchState == fsBOF) {
        FFetchState = fsMiddle;
        c.CheckStmt(FCommand->Stmt(), api._mysql_stmt_bind_result(FCommand->Stmt()), FComponent);
    }
    while (count < rows) {
        PMYSQL_ROW row = nullptr;
        if (prepared) {
            const int rc = api._mysql_stmt_fetch(FCommand->Stmt(), row);
            if (rc == 100 || rc == 101) {  // no more data, data truncated
                FFetchState = fsEof;
                end = true;
                break;
            }
            c.CheckStmt(FCommand->Stmt(), rc, FComponent);
        } else {
            row = api.mysql_fetch_row(FCommand->SQLResult());
            if (!row) {
                c.Check(FComponent);  // an error instead of the end of the rows
                end = true;
                break;
            }
        }
        TItemHeader* item = FBlockMan.ItemOf(block, count);
        TBlockManager::InitItem(item);
        converting = item;
        if (FHasComplexFields) std::memset(item->Record(), 0, FRecordSize);
        ConvertRow(*row, prepared, item->Record());
        converting = nullptr;
        item->Prev = last;
        item->Next = nullptr;
        if (last) last->Next = item;
        else first = item;
        last = item;
        ++count;
    }
    failed.Dismiss();

    if (count) {
        for (int i = count; i < rows; ++i) FBlockMan.PutFree(FBlockMan.ItemOf(block, i));
        AppendItems(first, last, count);
        FFirstFetched = first;
    } else {
        FBlockMan.FreeBlock(block);
        FFirstFetched = nullptr;
    }
    if (end) {
        FAllFetched = true;
        CopyOutParams();
        if (FOpenNextMode) CloseResult(true, false);
        else SkipAllResults();
    }
    if (FOnAfterFetch) FOnAfterFetch();
    return count > 0;
}

void TMySQLRecordset::CopyOutParams() {
    // A procedure call whose result is one row hands its "@name" columns to the OUT parameters.
    if (FRecordCount != 1 || !FFirstItem || !TStatementScan(FCommand->UserSQL()).IsProcCall()) return;
    bool first = true;
    for (TParamDesc& p : FCommand->Params()) {
        if (p.FParamType != ptOutput && p.FParamType != ptInputOutput && p.FParamType != ptResult) continue;
        const TFieldDesc* f = p.FParamType == ptResult && first && FFields.Count() ? &FFields[0]
                                                                                   : FindField(u'@' + p.FName);
        first = false;
        if (f) p.SetValue(GetFieldAsVariant(f->FFieldNo, FFirstItem->Record()));
    }
}

void TMySQLRecordset::PutBlobValue(const TMySQLFieldDesc& f, TRecBuf record, const void* data, size_t size) {
    // One allocation for the object and its content, unless the values are kept compressed.
    TBlob* blob;
    if (FCompressBlobMode == cbNone) {
        blob = TBlob::WithContent(f.FDataType == dtWideMemo, data, size);
        blob->EnableRollback();
    } else {
        blob = NewBlob(f.FDataType == dtWideMemo);
        blob->Data().Write(0, int64_t(size), data);
    }
    std::memcpy(record + f.FOffset, &blob, sizeof blob);
}

void TMySQLRecordset::PutText(const TMySQLFieldDesc& f, TRecBuf record, const char* data, size_t len) {
    PutStringValue(f, record, data, int64_t(len));
}

void TMySQLRecordset::PutDate(const TMySQLFieldDesc& f, TRecBuf record, bool valid, TDateTime value) {
    if (!valid) {
        // Not a date (0000-00-00 and the like).
        if (FNullForZeroDate) {
            SetNullFlag(f, record, true);
            return;
        }
        value = EncodeDate(100, 1, 1);
    } else if (value == 0 && FValues.NullForZeroDelphiDate) {
        SetNullFlag(f, record, true);
        return;
    }
    PutFloatValue(f, record, value);
    if (f.FMySQLType == FIELD_TYPE_TIMESTAMP && f.FTableInfo && value > f.FTableInfo->MaxTimestamp)
        f.FTableInfo->MaxTimestamp = value;
}

void TMySQLRecordset::ConvertRow(const TMySqlBinds& row, bool binary, TRecBuf record) {
    for (int i = 0; i < FFields.Count(); ++i) {
        const auto& f = static_cast<const TMySQLFieldDesc&>(FFields[i]);
        if (f.FFieldDescKind != fdkData) continue;
        const TConv conv = size_t(i) < FConv.size() ? FConv[size_t(i)] : TConv::Null;
        uint8_t* p = record + f.FOffset;
        if (conv == TConv::Null || f.FActualFieldNo >= row.Binds.size() || row.Binds[f.FActualFieldNo].IsNull) {
            // No object and no heap value: a NULL BLOB gets its object when it is written.
            SetNullFlag(f, record, true);
            if (TData::IsComplexFieldType(f.FDataType)) std::memset(p, 0, sizeof(void*));
            continue;
        }
        const TMySqlBind& b = row.Binds[f.FActualFieldNo];
        SetNullFlag(f, record, false);
        ConvertValue(f, conv, row.Buffer + b.Offset, b.Length, binary, record);
    }
}

void TMySQLRecordset::ConvertValue(const TMySQLFieldDesc& f, TConv conv, const uint8_t* v, uint32_t len,
                                   bool binary, TRecBuf record) {
    const auto text = [&] { return std::string_view(reinterpret_cast<const char*>(v), len); };
    const TMySqlFieldType type = f.FMySQLType;
    switch (conv) {
        case TConv::Bytes:
            PutStringValue(f, record, reinterpret_cast<const char*>(v), len);
            return;
        case TConv::Wide: {
            // At most as many units as the field holds (an out-of-line one holds all).
            const size_t room = f.FDataType == dtWideString ? f.FLength : len;
            if (FWide.size() < room) FWide.resize(room);
            const size_t n = MySqlUtf8ToUtf16(v, len, FWide.data(), room);
            PutWideValue(f, record, FWide.data(), int64_t(n));
            return;
        }
        case TConv::Blob:
            PutBlobValue(f, record, v, len);
            return;
        case TConv::WideMemo: {
            if (FWide.size() < len) FWide.resize(len);
            const size_t n = MySqlUtf8ToUtf16(v, len, FWide.data(), len);
            PutBlobValue(f, record, FWide.data(), n * 2);
            return;
        }
        case TConv::Int: {
            int64_t value;
            if (type == FIELD_TYPE_BIT) value = int64_t(MySqlBitsToUInt(v, len));
            else if (binary) value = BinaryInt(v, IntWidth(type), f.FIsUnsigned);
            else value = MySqlTextToInt(text());
            PutIntValue(f, record, value);
            return;
        }
        case TConv::Float: {
            double value;
            if (binary && type == FIELD_TYPE_FLOAT && len == 4) {
                float single;
                std::memcpy(&single, v, 4);
                value = single;
            } else if (binary && type == FIELD_TYPE_DOUBLE && len == 8) {
                std::memcpy(&value, v, 8);
            } else {
                value = MySqlTextToFloat(text());
            }
            PutFloatValue(f, record, value);
            return;
        }
        case TConv::Decimal: {
            if (type == FIELD_TYPE_BIT || (binary && type == FIELD_TYPE_LONGLONG)) {
                const uint64_t u = type == FIELD_TYPE_BIT ? MySqlBitsToUInt(v, len) : uint64_t(BinaryInt(v, 8, true));
                char digits[24];
                const auto r = std::to_chars(digits, digits + sizeof digits, u);
                PutText(f, record, digits, size_t(r.ptr - digits));
            } else {
                PutText(f, record, reinterpret_cast<const char*>(v), len);
            }
            return;
        }
        case TConv::BCD: {
            // Exact: the mapping chose this form only for at most four decimals.
            const std::string_view t = text();
            const size_t dot = t.find('.');
            int64_t scaled = MySqlTextToInt(t.substr(0, dot));
            const bool negative = !t.empty() && t[0] == '-';
            int64_t fraction = 0;
            size_t digits = 0;
            if (dot != std::string_view::npos)
                for (size_t i = dot + 1; i < t.size() && digits < 4; ++i, ++digits) fraction = fraction * 10 + (t[i] - '0');
            for (; digits < 4; ++digits) fraction *= 10;
            scaled = scaled * 10000 + (negative ? -fraction : fraction);
            std::memcpy(record + f.FOffset, &scaled, 8);
            return;
        }
        case TConv::Date: {
            const TMySqlDate d = binary && type != FIELD_TYPE_NEWDATE ? MySqlBinaryToDate(v, len)
                                                                      : MySqlTextToDate(type, text());
            PutDate(f, record, d.Valid, d.Value);
            return;
        }
        case TConv::Time:
            PutDate(f, record, true, binary ? MySqlBinaryToTime(v, len) : MySqlTextToTime(text(), f.FName));
            return;
        case TConv::Text: {
            // A binary value as the text the server sends for it.
            if (!binary) {
                PutText(f, record, reinterpret_cast<const char*>(v), len);
                return;
            }
            if (IsTemporalType(type)) {
                const std::string s = MySqlBinaryTemporalToText(type, f.FDecimals, v, len);
                PutText(f, record, s.data(), s.size());
                return;
            }
            char buffer[64];
            std::to_chars_result r{buffer, std::errc()};
            if (type == FIELD_TYPE_FLOAT && len == 4) {
                float single;
                std::memcpy(&single, v, 4);
                r = std::to_chars(buffer, buffer + sizeof buffer, single);
            } else if (type == FIELD_TYPE_DOUBLE && len == 8) {
                double value;
                std::memcpy(&value, v, 8);
                r = std::to_chars(buffer, buffer + sizeof buffer, value);
            } else if (type == FIELD_TYPE_YEAR) {
                r.ptr = buffer + std::snprintf(buffer, sizeof buffer, "%04u", unsigned(BinaryInt(v, 2, true)));
            } else if (f.FIsUnsigned) {
                r = std::to_chars(buffer, buffer + sizeof buffer, uint64_t(BinaryInt(v, IntWidth(type), true)));
            } else {
                r = std::to_chars(buffer, buffer + sizeof buffer, BinaryInt(v, IntWidth(type), false));
            }
            PutText(f, record, buffer, size_t(r.ptr - buffer));
            return;
        }
        case TConv::Null:
            SetNullFlag(f, record, true);
            return;
    }
}

}  // namespace calvoro::dac
