// Backups of objects and accounts whose names read as SQL when they are taken as quoted
// already, cut at a dot, written bare or written into a comment: the backup runs nothing but
// its own statements, and its script restores the same names and rows into another database
// (with our restore) without touching anything else.

#include "dump/MyDump.h"

#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "dataaccess/support/DatabaseFingerprint.h"
#include "dataaccess/support/MyTestConnection.h"
#include "script/MyScript.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace calvoro;
using namespace calvoro::dump;
using calvoro::dac::QuoteIdentifier;
using calvoro::dac::QuoteString;
using calvoro::dac::TObjectName;
using calvoro::test::AllRows;
using calvoro::test::ByteConnection;
using calvoro::test::Fingerprint;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

const QString Source = QStringLiteral("calvoro_inj");
const QString Copy = QStringLiteral("calvoro_inj_copy");

// Each name carries a statement that drops calvoro_inj.victim if it ever runs.
struct TCrafted {
    const char* what;
    const char* table;
    const char* view;
    const char* routine;
    const char* trigger;
};
const TCrafted Crafted[] = {
    {"backticks at both ends", "`x`;DROP TABLE calvoro_inj.victim;SELECT `1`",
     "`v`;DROP TABLE calvoro_inj.victim;SELECT `1`", "`p`;DROP TABLE calvoro_inj.victim;SELECT `1`",
     "`g`;DROP TABLE calvoro_inj.victim;SELECT `1`"},
    // Cut at the dot, the table's name is the victim's.
    {"a dot", "calvoro_inj.victim", "calvoro_inj.v", "calvoro_inj.p", "calvoro_inj.g"},
    {"a quote", "x'; DROP TABLE calvoro_inj.victim; #", "v'; DROP TABLE calvoro_inj.victim; #",
     "p'; DROP TABLE calvoro_inj.victim; #", "g'; DROP TABLE calvoro_inj.victim; #"},
    {"a semicolon", "x;DROP TABLE calvoro_inj.victim", "v;DROP TABLE calvoro_inj.victim",
     "p;DROP TABLE calvoro_inj.victim", "g;DROP TABLE calvoro_inj.victim"},
    // In a comment line of the script the rest would be a statement of its own.
    {"a line break", "x\nDROP TABLE calvoro_inj.victim;\n#", "v\nDROP TABLE calvoro_inj.victim;\n#",
     "p\nDROP TABLE calvoro_inj.victim;\n#", "g\nDROP TABLE calvoro_inj.victim;\n#"},
    {"a backslash and a delimiter", "x\\'$$DROP TABLE calvoro_inj.victim$$", "v\\'$$DROP TABLE calvoro_inj.victim$$",
     "p\\'$$DROP TABLE calvoro_inj.victim$$", "g\\'$$DROP TABLE calvoro_inj.victim$$"},
    {"letters beyond Latin-1", "\xC3\x84rger_\xE5\x8A\xA8\xE7\x89\xA9", "v_\xC3\x84rger", "p_\xC3\x84rger",
     "g_\xC3\x84rger"},
};

QString U(const char* text) { return QString::fromUtf8(text); }

class DumpNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        c = NewConnection();
        c->Connect();
    }
    void TearDown() override {
        for (const QString& db : {Source, Copy}) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    }

    // The source database: the victim, and a table, a view, a procedure and a trigger for each
    // crafted name, all with rows or bodies that tell them apart.
    void BuildSource() {
        for (const QString& db : {Source, Copy}) {
            c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
            c->ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(db));
        }
        c->SetDatabase(Source);
        c->ExecSQL(QStringLiteral("CREATE TABLE victim (id INT PRIMARY KEY)"));
        c->ExecSQL(QStringLiteral("INSERT INTO victim VALUES (7)"));
        int n = 0;
        for (const TCrafted& k : Crafted) {
            ++n;
            const QString table = QuoteIdentifier(U(k.table));
            c->ExecSQL(QStringLiteral("CREATE TABLE %1 (id INT PRIMARY KEY, v VARCHAR(80))").arg(table));
            c->ExecSQL(QStringLiteral("INSERT INTO %1 VALUES (%2, %3), (%4, NULL)")
                           .arg(table)
                           .arg(n)
                           .arg(QuoteString(U(k.table), true))
                           .arg(n + 100));
            c->ExecSQL(QStringLiteral("CREATE VIEW %1 AS SELECT id, v FROM %2").arg(QuoteIdentifier(U(k.view)), table));
            c->ExecSQL(QStringLiteral("CREATE PROCEDURE %1() SELECT %2").arg(QuoteIdentifier(U(k.routine))).arg(n));
            c->ExecSQL(QStringLiteral("CREATE TRIGGER %1 BEFORE INSERT ON %2 FOR EACH ROW SET NEW.v = '%3'")
                           .arg(QuoteIdentifier(U(k.trigger)), table)
                           .arg(n));
        }
    }

    // The objects of a database by kind and name (line breaks shown as \n), in order.
    QStringList Names(const QString& db) {
        const QString d = QuoteString(db, true);
        const auto shown = [](const char* column) {
            return QStringLiteral("REPLACE(REPLACE(%1, '\\r', '\\\\r'), '\\n', '\\\\n')").arg(QLatin1String(column));
        };
        QStringList names;
        for (const auto& row : AllRows(*c, QStringLiteral("SELECT CONCAT(TABLE_TYPE, ' ', %2) FROM information_schema.TABLES "
                                                          "WHERE TABLE_SCHEMA = %1 UNION ALL SELECT CONCAT(ROUTINE_TYPE, "
                                                          "' ', %3) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = %1 "
                                                          "UNION ALL SELECT CONCAT('TRIGGER ', %4, ' ON ', %5) FROM "
                                                          "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = %1 ORDER BY 1")
                                               .arg(d, shown("TABLE_NAME"), shown("ROUTINE_NAME"), shown("TRIGGER_NAME"),
                                                    shown("EVENT_OBJECT_TABLE"))))
            names << row[0].value_or(QString());
        return names;
    }

    // Our restore of the file into the copy, by a session of its own; the failures.
    QStringList Restore(const QString& file) {
        auto to = ByteConnection(Copy);
        TMyDump dump;
        dump.SetConnection(to.get());
        QStringList failures;
        dump.OnError = [&](script::TDAScript* s, const std::exception& e, const QString&, script::TErrorAction& a) {
            failures << QStringLiteral("line %1: %2").arg(s->Place().WordLine + 1).arg(QString::fromUtf8(e.what()));
            a = script::eaContinue;
        };
        dump.RestoreFromFile(file);
        return failures;
    }

    std::unique_ptr<dac::TMyConnection> c;
    QTemporaryDir TempDir;
    QDir Dir{TempDir.path()};
};

TEST_F(DumpNamesTest, CraftedNamesRunNothingAndRestoreAsThemselves) {
    BuildSource();
    const QStringList names = Names(Source);
    const QString expected = Fingerprint(*c, Source);
    // Every crafted object exists, beside the victim.
    ASSERT_EQ(names.size(), 1 + 4 * qsizetype(std::size(Crafted))) << names.join(u'\n').toStdString();

    QStringList typed;
    for (const TCrafted& k : Crafted) {
        typed << dac::TypedObjectName({QString(), U(k.table)}) << dac::TypedObjectName({QString(), U(k.view)});
    }
    typed << QStringLiteral("victim");
    std::vector<TObjectName> raw;
    for (const TCrafted& k : Crafted) raw.push_back({QString(), U(k.table)});
    for (const TCrafted& k : Crafted) raw.push_back({QString(), U(k.view)});
    raw.push_back({QString(), QStringLiteral("victim")});

    struct {
        const char* what;
        std::function<void(TMyDump&)> configure;
    } cases[] = {
        {"every object, names quoted", [](TMyDump& d) { d.Options().QuoteNames = true; }},
        {"every object, names quoted where needed", [](TMyDump& d) { d.Options().QuoteNames = false; }},
        {"tables listed as typed", [&](TMyDump& d) { d.SetTableNames(typed.join(QStringLiteral(", "))); }},
        {"tables listed by raw names, routines and triggers as typed",
         [&](TMyDump& d) {
             d.SetTables(raw);
             QStringList routines, triggers;
             for (const TCrafted& k : Crafted) {
                 routines << dac::TypedObjectName({QString(), U(k.routine)});
                 triggers << dac::TypedObjectName({QString(), U(k.trigger)});
             }
             d.SetStoredProcNames(routines.join(u';'));
             d.SetTriggerNames(triggers.join(u','));
         }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(Copy));
        c->ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(Copy));
        const QString file = Dir.filePath(QStringLiteral("inj.sql"));
        {
            auto from = ByteConnection(Source);
            TMyDump dump;
            dump.SetConnection(from.get());
            dump.SetObjects({doStoredProcs, doTables, doData, doViews, doTriggers});
            k.configure(dump);
            dump.BackupToFile(file);
        }
        // The backup ran nothing: everything is where it was.
        EXPECT_EQ(Names(Source), names);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id FROM `%1`.victim").arg(Source)), QStringLiteral("7"));

        EXPECT_EQ(Restore(file), QStringList());
        EXPECT_EQ(Names(Source), names);  // nothing of the script reached the source
        EXPECT_EQ(Names(Copy), names);
        EXPECT_EQ(Fingerprint(*c, Copy), expected);
        // Rows written before the triggers existed, by the names they were read from.
        for (const TCrafted& kc : Crafted)
            EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT v FROM %1 ORDER BY id")
                                       .arg(dac::QuoteObjectName({Copy, U(kc.table)}))),
                      U(kc.table) + QStringLiteral("|NULL"))
                << kc.what;
    }
}

// Accounts whose user and host names hold what ends a quoted name or string: the backup asks
// for each account's own grants, writes every one of them, and its lines create each account
// again. A role is created again before its grants and the grants of it.
TEST_F(DumpNamesTest, CraftedAccountsAreAskedForByTheirOwnNames) {
    BuildSource();
    const std::pair<const char*, const char*> accounts[] = {
        {"`calvoro_inj`;DROP TABLE calvoro_inj.victim;SELECT `1`", "`h`"},
        {"calvoro_inj'u'", "'%'"},  // taken as quoted, it would name the account calvoro_inj'u'@%... or none
        {"calvoro_inj.u", "h.o"},
        {"calvoro_inj;u", "h;o"},
        {"calvoro_inj\nu", "h\no"},
        {"calvoro_inj\\", "h\\"},  // a backslash before the closing quote
    };
    const auto account = [](const std::pair<const char*, const char*>& a) {
        return QuoteString(U(a.first), true) + u'@' + QuoteString(U(a.second), true);
    };
    const auto grantsOf = [&](const QString& account) {
        QStringList lines;
        for (const auto& row : AllRows(*c, QStringLiteral("SHOW GRANTS FOR %1").arg(account)))
            lines << row.front().value_or(QString());
        return lines;
    };
    const auto dropAll = [&] {
        for (const auto& a : accounts) c->ExecSQL(QStringLiteral("DROP USER IF EXISTS %1").arg(account(a)));
        c->ExecSQL(QStringLiteral("DROP ROLE IF EXISTS calvoro_inj_role"));
    };
    dropAll();
    ScopeExit drop(dropAll);
    const QString role = QStringLiteral("calvoro_inj_role");
    c->ExecSQL(QStringLiteral("CREATE ROLE %1").arg(role));
    c->ExecSQL(QStringLiteral("GRANT SELECT ON `%1`.victim TO %2").arg(Source, role));
    const QStringList roleGrants = grantsOf(role);
    std::vector<QStringList> grants;
    qsizetype grantLines = roleGrants.size() + 1;  // and the creator's admin grant of the role
    int n = 0;
    for (const auto& a : accounts) {
        c->ExecSQL(QStringLiteral("CREATE USER %1").arg(account(a)));
        // Grants of its own, so that a wrong account's line would show.
        c->ExecSQL(QStringLiteral("GRANT SELECT (id) ON `%1`.victim TO %2").arg(Source, account(a)));
        if (++n % 2) c->ExecSQL(QStringLiteral("GRANT SELECT ON `%1`.* TO %2").arg(Source, account(a)));
        if (n == 1) c->ExecSQL(QStringLiteral("GRANT %1 TO %2").arg(role, account(a)));
        grants.push_back(grantsOf(account(a)));
        grantLines += grants.back().size();
    }

    auto from = ByteConnection(Source);
    TMyDump dump;
    dump.SetConnection(from.get());
    dump.SetObjects({doUsers});
    const QString file = Dir.filePath(QStringLiteral("users.sql"));
    dump.BackupToFile(file);
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id FROM `%1`.victim").arg(Source)), QStringLiteral("7"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString script = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(script.contains(QStringLiteral("CREATE ROLE IF NOT EXISTS '%1';").arg(role)));
    for (const QStringList& lines : grants)
        for (const QString& grant : lines) EXPECT_TRUE(script.contains(grant + u';')) << grant.toStdString();
    for (const QString& grant : roleGrants) EXPECT_TRUE(script.contains(grant + u';')) << grant.toStdString();
    f.seek(0);

    // The script's grants for these accounts (and no others) create them again.
    dropAll();
    auto to = ByteConnection(Source);
    script::TMyScript restore;
    restore.SetConnection(to.get());
    restore.SetStream(&f);  // the file's bytes: a line break inside a name stays what it is
    QStringList granted;
    restore.BeforeExecute = [&](script::TDAScript*, QString& sql, bool& omit) {
        if (!sql.trimmed().startsWith(QStringLiteral("GRANT"))) return;
        omit = !sql.contains(QStringLiteral("calvoro_inj"));
        if (!omit) granted << sql;
    };
    QStringList failures;
    restore.OnError = [&](script::TDAScript*, const std::exception& e, const QString& sql, script::TErrorAction& a) {
        failures << sql + QStringLiteral(": ") + QString::fromUtf8(e.what());
        a = script::eaContinue;
    };
    restore.Execute();
    EXPECT_EQ(failures, QStringList());
    EXPECT_EQ(granted.size(), grantLines) << granted.join(u'\n').toStdString();
    for (size_t i = 0; i < std::size(accounts); ++i) EXPECT_EQ(grantsOf(account(accounts[i])), grants[i]) << accounts[i].first;
    EXPECT_EQ(grantsOf(role), roleGrants);
}

}  // namespace
