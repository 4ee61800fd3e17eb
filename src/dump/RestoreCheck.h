#pragma once
// A look at a script before it is restored: what the target server will refuse, skip or
// accept only half. The script is read once with the MySQL lexer, in blocks (memory stays flat
// however long it is), and compared with facts about the target: its family and version, the
// collations, character sets and engines it has, the accounts that exist and what the current
// account may do.
//
// The facts are a plain struct, read from a connection by ReadServerFacts or written by hand,
// so that a scan can be tried for a server that is not at hand.

#include "RestoreMend.h"

#include <QIODevice>
#include <QSet>
#include <QString>

#include <vector>

namespace calvoro::dac {
class TCustomMyConnection;
}

namespace calvoro::dump {

struct TServerFacts {
    bool MariaDB = true;
    // As executable comments write it: major * 10000 + minor * 100 + patch (10.11.6: 101106).
    int Version = 0;
    // Names in lower case. A collation is known by its full name (utf8mb4_uca1400_ai_ci).
    QSet<QString> Collations;
    QSet<QString> Charsets;
    QSet<QString> Engines;       // those the server supports (YES or DEFAULT)
    QString DefaultEngine;       // as the server names it
    // The accounts as 'user'@'host' in lower case; AccountsKnown false when the current
    // account may not read them (a DEFINER is then not checked).
    bool AccountsKnown = false;
    QSet<QString> Accounts;
    QString CurrentAccount;  // CURRENT_USER(): user@host, lower case
    bool MaySetDefiner = false;  // SUPER, SET USER (MariaDB) or SET_USER_ID (MySQL)
    bool MaySetGlobal = false;   // SUPER or SYSTEM_VARIABLES_ADMIN
    QString SqlMode;             // the session's sql_mode at the start
};

// Reads the facts through the connection (open or opened here).
TServerFacts ReadServerFacts(dac::TCustomMyConnection& connection);

// Whether the target runs the code of an executable comment opened by opener ("/*!",
// "/*!50003", "/*M!100100"), as its server reads it.
bool RunsExecutableComment(QStringView opener, const TServerFacts& facts);

enum class TCheckKind {
    UnknownCollation,
    UnknownCharset,
    MissingDefiner,     // the object is made, but fails when used until the account exists
    DefinerPrivilege,   // a DEFINER of another account without the privilege to name it
    UnavailableEngine,  // refused, or replaced by the default engine (by the sql_mode then)
    SetGlobal,          // SET GLOBAL without the privilege
    SkippedComment,     // executable comments the target skips, by opener
    SandboxLine,        // mariadb-dump's "/*M!999999\- enable the sandbox mode */"
    DependentFailure,   // a statement on a table whose CREATE TABLE fails
    UnknownSqlMode,     // a SET sql_mode naming a mode the server does not have
};

enum class TCheckSeverity {
    Note,    // nothing fails
    Broken,  // the statement runs, but what it makes does not work (or is not what was asked)
    Fails,   // the server refuses the statement
};

struct TCheckItem {
    TCheckKind Kind{};
    TCheckSeverity Severity = TCheckSeverity::Note;
    QString Name;           // the collation, account, engine, variable or comment opener
    qint64 Count = 0;       // statements (comments for the comment kinds)
    qint64 FirstLine = 0;   // 1-based
    qint64 Mended = 0;      // of Count, those the mends asked for take care of
    QString Suggestion;     // a mend to offer, as the command line writes it; may be empty
};

struct TCheckReport {
    std::vector<TCheckItem> Items;
    qint64 Statements = 0;
    qint64 Bytes = 0;
    // 1-based lines (a statement's first word) of the statements predicted to fail after the
    // mends, in order; only the first MaxFailingLines are kept.
    std::vector<qint64> FailingLines;
    qint64 FailingStatements = 0;
    static constexpr size_t MaxFailingLines = 10000;

    // Something fails or is made broken, after the mends.
    bool WouldFail() const;
    // Anything at all to show.
    bool Empty() const { return Items.empty(); }
    const TCheckItem* Find(TCheckKind kind, const QString& name) const;
};

// Scans the stream from where it stands, in the given encoding, for a restore into the server
// the facts describe, with the mends that will be applied. Raises the lexer's EParserError for
// text it cannot read.
TCheckReport CheckScript(QIODevice* stream, const TServerFacts& facts, const TRestoreMends& mends = {},
                         sqltext::TTextEncoding encoding = sqltext::teUTF8);
TCheckReport CheckScript(const QString& text, const TServerFacts& facts, const TRestoreMends& mends = {});

// The mends the report offers: the safe equivalent of each unknown collation the target has
// one for, DEFINER=CURRENT_USER where a definer is missing or may not be named, the target's
// default engine for the engines it lacks.
TRestoreMends OfferedMends(const TCheckReport& report, const TServerFacts& facts);

// The report as lines of text, for a terminal or a dialog.
QString FormatCheckReport(const TCheckReport& report);
QString CheckKindText(TCheckKind kind);

}  // namespace calvoro::dump
