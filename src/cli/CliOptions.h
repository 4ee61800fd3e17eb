#pragma once
// Command-line options of calvoro-cli.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace calvoro::cli {

struct TCliOptions {
    QString Command;  // "exec", "query", "script", "backup", "restore", "processlist", "kill", "import", or "help"
    QString Host;  // may carry its port: "db:3307", "[::1]:3307"
    int Port = 3306;
    QString Socket;    // the server's Unix socket; used unless Protocol is "tcp"
    QString Protocol;  // "tcp", "socket", or empty: the socket when one is given, else TCP
    int ConnectTimeout = 15;  // seconds for the connect and the login; 0: no limit
    QString User;
    QString Password;
    bool PasswordGiven = false;
    QString Database;
    // TLS (as MySQL's clients name the options) and the server's public key.
    QString SslMode = QStringLiteral("PREFERRED");
    QString SslCa, SslCapath, SslCert, SslKey, SslCipher;
    QString ServerPublicKey;  // PEM file
    bool GetServerPublicKey = false;
    int64_t MaxAllowedPacket = int64_t(1) << 30;  // bytes; the largest packet taken from the server
    bool ReadOnly = false;  // every connection read-only; changing commands refused before sending
    QString Session;        // a saved session whose settings fill what the options leave out
    QStringList Given;      // the connection options given, as written ("-h", "--port", ...)
    std::vector<std::pair<QString, QString>> Params;  // NAME=VALUE, in order
    QString Sql;
    bool SqlGiven = false;
    bool Prepared = false;  // query: a server-side prepared statement
    // query: the rows as csv, tsv, json or sql (empty: the batch form), and how
    QString Format;
    std::optional<QString> NullMarker;       // query --null: written for NULL in csv and tsv;
                                             // import --null-marker: the unquoted field read as NULL
    bool Header = true;                      // --no-header: no line of column names
    QString Table;                           // query sql: the table the INSERTs name; import: the table
    bool RawBinary = false;                  // --binary raw: bytes as they are in csv and tsv
    QString File;             // script, restore: the file, "-" for standard input
    bool StopOnError = false;  // script, restore: stop at the first failing statement
    int Parallel = 0;          // restore, backup: connections for rows; 0: the default
    // restore: only look at the script against the server (--check), and the mends to apply
    bool Check = false;
    std::vector<std::pair<QString, QString>> MapCollations;  // FROM, TO in lower case
    QString Definer = QStringLiteral("keep");                // keep, current or drop
    QString EngineFallback;

    // backup
    QStringList Tables;                                            // empty: every table and view
    QStringList Objects{QStringLiteral("tables"), QStringLiteral("data")};  // kinds to write
    bool QuoteNames = true;
    bool HexBlob = false;
    bool CompleteInsert = false;
    bool ExtendedInsert = true;
    QString InsertType = QStringLiteral("insert");  // insert, ignore or replace
    bool AddDrop = true;
    bool AddLock = true;
    bool DisableKeys = false;
    int CommitBatch = 0;
    int64_t StatementSize = int64_t(1) << 20;    // bytes of one INSERT of several rows
    int64_t TransactionSize = int64_t(16) << 20;  // bytes of rows per transaction; 0: none
    QString Query;  // null without --query
    bool SingleTransaction = false;
    bool SkipDefiner = false;
    QString Output;  // backup, query: the file written; empty: standard output

    bool Full = false;               // processlist: statements in full
    bool KillQuery = false;          // kill: the running statements only
    std::vector<qint64> ProcessIds;  // kill

    // import (File is the CSV file, "-" for standard input)
    QStringList Columns;       // empty: every column of the table, in order
    char Delimiter = ',';
    int SkipLines = 0;
    QString Charset = QStringLiteral("utf8");  // utf8 or cp1252
};

// Parses the arguments after the program name; raises calvoro::Exception with a usage message
// for what it cannot take.
TCliOptions ParseArguments(const QStringList& args);

QString UsageText();

}  // namespace calvoro::cli
