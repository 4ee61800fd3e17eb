#pragma once
// The lasting history of the custom query: every executed text with where and how it ran, in a
// SQLite file under the user's data folder, capped in size; and the editor's text kept from one
// start of the program to the next. No password goes into the file: the literals of statements
// that set one are masked first.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace calvoro::app {

// The text with the password literals of the statements that set one replaced by '***':
// IDENTIFIED BY / USING / AS '…' (CREATE USER, ALTER USER, GRANT), IDENTIFIED BY PASSWORD '…',
// PASSWORD('…') and OLD_PASSWORD('…'), the value of SET PASSWORD … = '…', and
// <name>PASSWORD = '…' (MASTER_PASSWORD and the like). Everything else stays as it was.
QString MaskPasswords(const QString& sql);

// The folder the history file lives in: the override when one is set (tests), else Qt's
// application data location.
QString& HistoryFolderOverride();
QString HistoryFolder();

struct THistoryEntry {
    qint64 Id = 0;
    QString Text;
    QString Server;
    QString User;
    QString Database;
    QDateTime Started;  // UTC
    qint64 DurationMs = 0;
    QString RowCounts;  // each statement's rows matched or affected, ", " between them
    bool Success = false;
};

struct THistoryFilter {
    QString Text;           // a part of the text, case-insensitive; empty: any
    QString Database;       // the database exactly; empty: any
    bool FailedOnly = false;
    int Limit = 1000;       // the newest so many
};

class TQueryHistoryStore {
public:
    // Opens (creating when needed) the file "history.sqlite" in folder. It keeps at most
    // maxEntries entries whose texts together hold at most maxChars characters, dropping the
    // oldest.
    explicit TQueryHistoryStore(const QString& folder, int maxEntries = 5000, qint64 maxChars = 16 * 1024 * 1024);
    ~TQueryHistoryStore();
    TQueryHistoryStore(const TQueryHistoryStore&) = delete;
    TQueryHistoryStore& operator=(const TQueryHistoryStore&) = delete;

    // Whether the file could be opened; when not, ErrorText says why and the store keeps
    // nothing (the editor works on without a lasting history).
    bool IsOpen() const { return FOpen; }
    const QString& ErrorText() const { return FError; }
    QString FileName() const;

    // Records an execution; its text (passwords masked) longer than the whole cap is not kept.
    void Add(const THistoryEntry& entry);
    // Entries matching the filter, newest first.
    QList<THistoryEntry> Find(const THistoryFilter& filter) const;
    // The databases entries were run in, sorted.
    QStringList Databases() const;
    // The texts that ran successfully, each once, newest last: the history Previous and Next
    // walk through.
    QStringList SuccessfulTexts(int limit = 1000) const;

    // The editor's text, kept at close and given back at the next start.
    void KeepEditorText(const QString& text);
    QString KeptEditorText() const;

private:
    bool Exec(const QString& sql, const QVariantList& values = {}) const;
    void Trim();

    QString FConnection;
    QString FFolder;
    int FMaxEntries;
    qint64 FMaxChars;
    bool FOpen = false;
    mutable QString FError;
};

}  // namespace calvoro::app
