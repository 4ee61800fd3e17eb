#include "QueryHistoryStore.h"

#include "sqltext/MyParser.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>

namespace calvoro::app {

QString MaskPasswords(const QString& sql) {
    struct TLexeme {
        int Code;
        QString Upper;
        qint64 Start, End;
    };
    sqltext::TMyParser parser(sql);
    parser.FOmitBlank = false;
    parser.FOmitComment = false;
    // Lexemes of the current statement that are neither blanks nor comments.
    QList<TLexeme> seen;
    bool identified = false, setPassword = false, lastMasked = false;
    QList<std::pair<qint64, qint64>> masked;
    const auto word = [&](qsizetype back) { return back < seen.size() ? seen[seen.size() - 1 - back].Upper : QString(); };
    QString lexem;
    for (int code; (code = parser.GetNext(lexem)) != sqltext::lexEnd;) {
        if (code == sqltext::lexBlank || code == sqltext::lexComment) continue;
        const qint64 start = parser.PrevPos(), end = parser.CurrPos();
        if (code == sqltext::lexString) {
            const QString prev = word(0), before = word(1);
            const bool afterIdentified =
                identified && (prev == u"BY" || prev == u"USING" || prev == u"AS" || prev == u"PASSWORD");
            const bool passwordCall = prev == u"(" && (before == u"PASSWORD" || before == u"OLD_PASSWORD");
            const bool passwordValue =
                prev == u"=" && (setPassword || before == u"PASSWORD" || before.endsWith(QStringLiteral("_PASSWORD")));
            // 'it''s' reads as two strings, and SQL joins adjacent ones: the rest of a masked
            // literal goes with it.
            if (lastMasked) masked.last().second = end;
            else if (afterIdentified || passwordCall || passwordValue) masked << std::pair{start, end};
            lastMasked = lastMasked || afterIdentified || passwordCall || passwordValue;
            seen << TLexeme{code, lexem, start, end};
            continue;
        }
        lastMasked = false;
        if (lexem == u";") {
            seen.clear();
            identified = setPassword = false;
            continue;
        }
        seen << TLexeme{code, lexem.toUpper(), start, end};
        if (seen.last().Upper == u"IDENTIFIED") identified = true;
        if (seen.size() == 2 && seen[0].Upper == u"SET" && seen[1].Upper == u"PASSWORD") setPassword = true;
    }
    QString result = sql;
    for (qsizetype i = masked.size() - 1; i >= 0; --i)
        result.replace(masked[i].first, masked[i].second - masked[i].first, QStringLiteral("'***'"));
    return result;
}

QString& HistoryFolderOverride() {
    static QString folder;
    return folder;
}

QString HistoryFolder() {
    if (!HistoryFolderOverride().isEmpty()) return HistoryFolderOverride();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

namespace {

constexpr const char* Columns = "id, text, server, user, db, started, duration_ms, row_counts, success";

THistoryEntry ReadEntry(const QSqlQuery& q) {
    THistoryEntry e;
    e.Id = q.value(0).toLongLong();
    e.Text = q.value(1).toString();
    e.Server = q.value(2).toString();
    e.User = q.value(3).toString();
    e.Database = q.value(4).toString();
    e.Started = QDateTime::fromString(q.value(5).toString(), Qt::ISODateWithMs);
    e.DurationMs = q.value(6).toLongLong();
    e.RowCounts = q.value(7).toString();
    e.Success = q.value(8).toBool();
    return e;
}

QString LikePattern(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("\\%")).replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

}  // namespace

TQueryHistoryStore::TQueryHistoryStore(const QString& folder, int maxEntries, qint64 maxChars)
    : FFolder(folder), FMaxEntries(maxEntries), FMaxChars(maxChars) {
    static std::atomic<int> counter = 0;
    FConnection = QStringLiteral("calvoro-history-%1").arg(++counter);
    if (!QDir().mkpath(folder)) {
        FError = QStringLiteral("The folder \"%1\" for the query history cannot be made.").arg(folder);
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    db.setDatabaseName(FileName());
    if (!db.open()) {
        FError = QStringLiteral("The query history \"%1\" cannot be opened: %2").arg(FileName(), db.lastError().text());
        return;
    }
    FOpen = Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS history (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                "text TEXT NOT NULL, server TEXT, user TEXT, db TEXT, started TEXT, "
                                "duration_ms INTEGER, row_counts TEXT, success INTEGER)")) &&
            Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS kept (name TEXT PRIMARY KEY, value TEXT)"));
}

TQueryHistoryStore::~TQueryHistoryStore() {
    // The database object goes before its connection is removed.
    { QSqlDatabase::database(FConnection, false).close(); }
    QSqlDatabase::removeDatabase(FConnection);
}

QString TQueryHistoryStore::FileName() const { return QDir(FFolder).filePath(QStringLiteral("history.sqlite")); }

bool TQueryHistoryStore::Exec(const QString& sql, const QVariantList& values) const {
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    if (!q.prepare(sql)) {
        FError = q.lastError().text();
        return false;
    }
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) {
        FError = q.lastError().text();
        return false;
    }
    return true;
}

void TQueryHistoryStore::Add(const THistoryEntry& entry) {
    if (!FOpen) return;
    const QString text = MaskPasswords(entry.Text);
    if (text.size() > FMaxChars) return;
    Exec(QStringLiteral("INSERT INTO history (text, server, user, db, started, duration_ms, row_counts, success) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
         {text, entry.Server, entry.User, entry.Database, entry.Started.toUTC().toString(Qt::ISODateWithMs),
          entry.DurationMs, entry.RowCounts, entry.Success ? 1 : 0});
    Trim();
}

void TQueryHistoryStore::Trim() {
    Exec(QStringLiteral("DELETE FROM history WHERE id NOT IN (SELECT id FROM history ORDER BY id DESC LIMIT ?)"),
         {FMaxEntries});
    // The oldest go until the texts fit the cap.
    Exec(QStringLiteral("DELETE FROM history WHERE id IN (SELECT id FROM (SELECT id, SUM(LENGTH(text)) OVER "
                        "(ORDER BY id DESC) AS total FROM history) WHERE total > ?)"),
         {FMaxChars});
}

QList<THistoryEntry> TQueryHistoryStore::Find(const THistoryFilter& filter) const {
    QList<THistoryEntry> found;
    if (!FOpen) return found;
    QString sql = QStringLiteral("SELECT %1 FROM history WHERE 1 = 1").arg(QLatin1String(Columns));
    QVariantList values;
    if (!filter.Text.isEmpty()) {
        sql += QStringLiteral(" AND text LIKE ? ESCAPE '\\'");
        values << LikePattern(filter.Text);
    }
    if (!filter.Database.isEmpty()) {
        sql += QStringLiteral(" AND db = ?");
        values << filter.Database;
    }
    if (filter.FailedOnly) sql += QStringLiteral(" AND success = 0");
    sql += QStringLiteral(" ORDER BY id DESC LIMIT ?");
    values << filter.Limit;
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) {
        FError = q.lastError().text();
        return found;
    }
    while (q.next()) found << ReadEntry(q);
    return found;
}

QStringList TQueryHistoryStore::Databases() const {
    QStringList names;
    if (!FOpen) return names;
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    if (!q.exec(QStringLiteral("SELECT DISTINCT db FROM history WHERE db <> '' ORDER BY db"))) return names;
    while (q.next()) names << q.value(0).toString();
    return names;
}

QStringList TQueryHistoryStore::SuccessfulTexts(int limit) const {
    QStringList texts;
    if (!FOpen) return texts;
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    q.prepare(QStringLiteral("SELECT text FROM history WHERE success = 1 GROUP BY text ORDER BY MAX(id) DESC LIMIT ?"));
    q.addBindValue(limit);
    if (!q.exec()) return texts;
    while (q.next()) texts.prepend(q.value(0).toString());
    return texts;
}

void TQueryHistoryStore::KeepEditorText(const QString& text) {
    if (!FOpen) return;
    Exec(QStringLiteral("INSERT OR REPLACE INTO kept (name, value) VALUES ('editor', ?)"), {MaskPasswords(text)});
}

QString TQueryHistoryStore::KeptEditorText() const {
    if (!FOpen) return {};
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    if (!q.exec(QStringLiteral("SELECT value FROM kept WHERE name = 'editor'")) || !q.next()) return {};
    return q.value(0).toString();
}

}  // namespace calvoro::app
