#include "CompletionModel.h"

#include "app/SynHighlighterMySQL.h"
#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QSet>

#include <algorithm>

namespace calvoro::app {

namespace {

// The built-in functions of MySQL and MariaDB users reach for most.
const char* const Functions =
    "ABS ACOS ADDDATE ADDTIME AES_DECRYPT AES_ENCRYPT ANY_VALUE ASCII ASIN ATAN ATAN2 AVG BENCHMARK "
    "BIN BIT_AND BIT_COUNT BIT_LENGTH BIT_OR BIT_XOR CAST CEIL CEILING CHAR_LENGTH CHARACTER_LENGTH "
    "COALESCE COERCIBILITY COLLATION COMPRESS CONCAT CONCAT_WS CONNECTION_ID CONV CONVERT CONVERT_TZ "
    "COS COT COUNT CRC32 CUME_DIST CURDATE CURRENT_DATE CURRENT_TIME CURRENT_TIMESTAMP CURRENT_USER "
    "CURTIME DATABASE DATE DATE_ADD DATE_FORMAT DATE_SUB DATEDIFF DAY DAYNAME DAYOFMONTH DAYOFWEEK "
    "DAYOFYEAR DEGREES DENSE_RANK ELT EXP EXPORT_SET EXTRACT FIELD FIND_IN_SET FIRST_VALUE FLOOR "
    "FORMAT FOUND_ROWS FROM_BASE64 FROM_DAYS FROM_UNIXTIME GET_LOCK GREATEST GROUP_CONCAT HEX HOUR "
    "IF IFNULL INET_ATON INET_NTOA INSERT INSTR IS_FREE_LOCK IS_USED_LOCK ISNULL JSON_ARRAY "
    "JSON_ARRAYAGG JSON_CONTAINS JSON_EXTRACT JSON_KEYS JSON_LENGTH JSON_OBJECT JSON_OBJECTAGG "
    "JSON_QUOTE JSON_REMOVE JSON_REPLACE JSON_SET JSON_UNQUOTE JSON_VALID JSON_VALUE LAG "
    "LAST_DAY LAST_INSERT_ID LAST_VALUE LCASE LEAD LEAST LEFT LENGTH LN LOAD_FILE LOCATE LOG LOG10 "
    "LOG2 LOWER LPAD LTRIM MAKE_SET MAKEDATE MAKETIME MAX MD5 MICROSECOND MID MIN MINUTE MOD MONTH "
    "MONTHNAME NOW NTH_VALUE NTILE NULLIF OCT OCTET_LENGTH ORD PERCENT_RANK PERIOD_ADD PERIOD_DIFF "
    "PI POSITION POW POWER QUARTER QUOTE RADIANS RAND RANK REGEXP_INSTR REGEXP_REPLACE REGEXP_SUBSTR "
    "RELEASE_LOCK REPEAT REPLACE REVERSE RIGHT ROUND ROW_COUNT ROW_NUMBER RPAD RTRIM SCHEMA "
    "SEC_TO_TIME SECOND SESSION_USER SHA1 SHA2 SIGN SIN SLEEP SOUNDEX SPACE SQRT STD STDDEV "
    "STDDEV_POP STDDEV_SAMP STR_TO_DATE STRCMP SUBDATE SUBSTR SUBSTRING SUBSTRING_INDEX SUBTIME SUM "
    "SYSDATE SYSTEM_USER TAN TIME TIME_FORMAT TIME_TO_SEC TIMEDIFF TIMESTAMP TIMESTAMPADD "
    "TIMESTAMPDIFF TO_BASE64 TO_DAYS TO_SECONDS TRIM TRUNCATE UCASE UNCOMPRESS UNHEX UNIX_TIMESTAMP "
    "UPPER USER UTC_DATE UTC_TIME UTC_TIMESTAMP UUID UUID_SHORT VAR_POP VAR_SAMP VARIANCE VERSION "
    "WEEK WEEKDAY WEEKOFYEAR YEAR YEARWEEK";

QStringList Words(const char* list, bool upper) {
    QStringList words = QString::fromLatin1(list).split(u' ', Qt::SkipEmptyParts);
    if (upper)
        for (QString& w : words) w = w.toUpper();
    words.sort();
    words.removeDuplicates();
    return words;
}

// The kinds a place offers, in the order they are listed.
std::vector<TCandidateKind> KindsOf(TCompletionPlace place) {
    using K = TCandidateKind;
    switch (place) {
    case TCompletionPlace::Any: return {K::Column, K::Function, K::Keyword, K::Table, K::View, K::Database};
    case TCompletionPlace::Table: return {K::Table, K::View, K::Database};
    case TCompletionPlace::Column: return {K::Column};
    case TCompletionPlace::Database: return {K::Database};
    case TCompletionPlace::Member: return {K::Column, K::Table, K::View};
    case TCompletionPlace::None: break;
    }
    return {};
}

class TBuilder {
public:
    TBuilder(const TCompletionContext& context, const TCompletionCatalog& catalog) : c(context), FCatalog(catalog) {}

    bool Matches(const QString& name) const { return name.startsWith(c.Prefix, Qt::CaseInsensitive); }

    QString NameInsert(const QString& raw) const {
        return c.Quoted ? dac::QuoteIdentifier(raw) : dac::QuoteIdentifier(raw, false);
    }
    // Keywords and functions take the letter case the user typed them in.
    QString WordInsert(const QString& word) const {
        const bool lower = !c.Prefix.isEmpty() && c.Prefix == c.Prefix.toLower() && c.Prefix != c.Prefix.toUpper();
        return lower ? word.toLower() : word;
    }

    void Add(TCandidateKind kind, const QString& name, QString insert, QString detail = {}) {
        if (!Matches(name)) return;
        FOut[kind].push_back({name, kind, std::move(insert), std::move(detail)});
    }

    const TDatabaseCatalog* Database(const QString& name) {
        const TDatabaseCatalog* d = FCatalog.Database(name);
        const QString wanted = name.isEmpty() ? FCatalog.CurrentDatabase() : FCatalog.DatabaseName(name);
        if (!d && !wanted.isEmpty() && !Missing.contains(wanted)) Missing << wanted;
        return d;
    }

    void AddColumns(const TCompletionTableRef& ref, QHash<QString, qsizetype>& seen) {
        const TDatabaseCatalog* d = Database(ref.Database);
        const TCatalogTable* table = d ? d->Find(ref.Table) : nullptr;
        if (!table) return;
        for (const TCatalogColumn& col : table->Columns) {
            if (!Matches(col.Name)) continue;
            auto& list = FOut[TCandidateKind::Column];
            // A name several tables have is one candidate that names them all.
            if (const auto it = seen.constFind(col.Name); it != seen.cend()) {
                list[size_t(*it)].Detail += QStringLiteral(", ") + table->Name;
                continue;
            }
            seen.insert(col.Name, qsizetype(list.size()));
            list.push_back({col.Name, TCandidateKind::Column, NameInsert(col.Name), col.Type + u' ' + table->Name});
        }
    }

    void AddTables(const TDatabaseCatalog* d) {
        if (!d) return;
        for (const TCatalogTable& t : d->Tables())
            Add(t.View ? TCandidateKind::View : TCandidateKind::Table, t.Name, NameInsert(t.Name));
    }

    // What a qualifier names: an alias or table of the statement, else a database and a
    // table of the current one.
    void AddMembers() {
        QHash<QString, qsizetype> seen;
        if (c.Qualifier.size() >= 2) {
            AddColumns({c.Qualifier[0], c.Qualifier[1], {}}, seen);
            return;
        }
        const QString& q = c.Qualifier.front();
        for (auto exact : {true, false}) {
            const Qt::CaseSensitivity cs = exact ? Qt::CaseSensitive : Qt::CaseInsensitive;
            for (const TCompletionTableRef& ref : c.Tables) {
                if (ref.Alias.compare(q, cs) == 0 || (ref.Alias.isEmpty() && ref.Table.compare(q, cs) == 0)) {
                    AddColumns(ref, seen);
                    return;
                }
            }
        }
        if (FCatalog.DatabasesLoaded() && FCatalog.Databases().contains(FCatalog.DatabaseName(q)))
            AddTables(Database(q));
        AddColumns({{}, q, {}}, seen);
    }

    TCompletionResult Build() {
        TCompletionResult result;
        const std::vector<TCandidateKind> kinds = KindsOf(c.Place);
        auto wants = [&](TCandidateKind k) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); };
        if (c.Place == TCompletionPlace::Member) {
            AddMembers();
        } else {
            if (wants(TCandidateKind::Column)) {
                QHash<QString, qsizetype> seen;
                for (const TCompletionTableRef& ref : c.Tables) AddColumns(ref, seen);
            }
            if (wants(TCandidateKind::Table)) AddTables(Database({}));
            if (wants(TCandidateKind::Database))
                for (const QString& d : FCatalog.Databases()) Add(TCandidateKind::Database, d, NameInsert(d));
            if (wants(TCandidateKind::Function))
                for (const QString& f : CompletionFunctions()) Add(TCandidateKind::Function, f, WordInsert(f));
            if (wants(TCandidateKind::Keyword)) {
                const QSet<QString> functions(CompletionFunctions().cbegin(), CompletionFunctions().cend());
                for (const QString& k : CompletionKeywords())
                    if (!functions.contains(k)) Add(TCandidateKind::Keyword, k, WordInsert(k));
            }
        }
        for (TCandidateKind kind : kinds) {
            std::vector<TCandidate>& list = FOut[kind];
            std::stable_partition(list.begin(), list.end(),
                                  [&](const TCandidate& x) { return x.Name.startsWith(c.Prefix, Qt::CaseSensitive); });
            result.Candidates.insert(result.Candidates.end(), list.begin(), list.end());
        }
        result.Missing = Missing;
        return result;
    }

    QStringList Missing;

private:
    const TCompletionContext& c;
    const TCompletionCatalog& FCatalog;
    std::map<TCandidateKind, std::vector<TCandidate>> FOut;
};

}  // namespace

QString CandidateKindName(TCandidateKind kind) {
    switch (kind) {
    case TCandidateKind::Column: return QStringLiteral("column");
    case TCandidateKind::Table: return QStringLiteral("table");
    case TCandidateKind::View: return QStringLiteral("view");
    case TCandidateKind::Database: return QStringLiteral("database");
    case TCandidateKind::Function: return QStringLiteral("function");
    case TCandidateKind::Keyword: return QStringLiteral("keyword");
    }
    return {};
}

const QStringList& CompletionKeywords() {
    static const QStringList words = [] {
        QStringList w = Words(TSynMySQL::KeywordList(), true) + Words(TSynMySQL::DataTypeList(), true);
        w.sort();
        w.removeDuplicates();
        return w;
    }();
    return words;
}

const QStringList& CompletionFunctions() {
    static const QStringList words = Words(Functions, false);
    return words;
}

TCompletionResult CompletionCandidates(const TCompletionContext& context, const TCompletionCatalog& catalog) {
    if (context.Place == TCompletionPlace::None) return {};
    return TBuilder(context, catalog).Build();
}

}  // namespace calvoro::app
