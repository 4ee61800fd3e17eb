// The look at a script before a restore, without a server: dumps of MySQL 8's mysqldump and
// MariaDB 11's mariadb-dump (fixtures/*_cross_family.sql) against the facts of the other
// family, and the statements the mends make, as exact strings.

#include "dump/RestoreCheck.h"

#include "support/QtPrinters.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace calvoro::dump;
using K = TCheckKind;
using S = TCheckSeverity;

namespace {

const QString MySql8Dump = QStringLiteral(CALVORO_DUMP_FIXTURES "/mysql8_dump_cross_family.sql");
const QString MariaDb11Dump = QStringLiteral(CALVORO_DUMP_FIXTURES "/mariadb11_dump_cross_family.sql");

QSet<QString> Set(std::initializer_list<const char*> names) {
    QSet<QString> s;
    for (const char* n : names) s.insert(QString::fromLatin1(n));
    return s;
}

TServerFacts MariaDb11() {
    TServerFacts f;
    f.MariaDB = true;
    f.Version = 110404;
    f.Collations = Set({"utf8mb4_general_ci", "utf8mb4_unicode_ci", "utf8mb4_unicode_520_ci", "utf8mb4_bin",
                        "utf8mb4_uca1400_ai_ci", "utf8mb4_uca1400_nopad_ai_ci", "utf8mb3_general_ci",
                        "latin1_swedish_ci", "binary"});
    f.Charsets = Set({"utf8mb4", "utf8mb3", "latin1", "binary"});
    f.Engines = Set({"innodb", "myisam", "aria", "memory", "csv"});
    f.DefaultEngine = QStringLiteral("InnoDB");
    f.AccountsKnown = true;
    f.Accounts = Set({"'root'@'localhost'", "'restorer'@'%'"});
    f.CurrentAccount = QStringLiteral("'restorer'@'%'");
    f.MaySetDefiner = f.MaySetGlobal = true;
    f.SqlMode = QStringLiteral("STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION");
    return f;
}

TServerFacts MySql8() {
    TServerFacts f;
    f.MariaDB = false;
    f.Version = 80036;
    f.Collations = Set({"utf8mb4_general_ci", "utf8mb4_unicode_ci", "utf8mb4_unicode_520_ci", "utf8mb4_bin",
                        "utf8mb4_0900_ai_ci", "utf8mb4_0900_as_cs", "utf8mb3_general_ci", "latin1_swedish_ci",
                        "binary"});
    f.Charsets = Set({"utf8mb4", "utf8mb3", "latin1", "binary"});
    f.Engines = Set({"innodb", "myisam", "memory", "csv", "archive", "blackhole"});
    f.DefaultEngine = QStringLiteral("InnoDB");
    f.AccountsKnown = true;
    f.Accounts = Set({"'root'@'localhost'", "'restorer'@'%'"});
    f.CurrentAccount = QStringLiteral("'restorer'@'%'");
    f.MaySetDefiner = f.MaySetGlobal = true;
    f.SqlMode = QStringLiteral("ONLY_FULL_GROUP_BY,STRICT_TRANS_TABLES,NO_ZERO_IN_DATE,NO_ZERO_DATE,"
                               "ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION");
    return f;
}

TCheckReport CheckFile(const QString& path, const TServerFacts& facts, const TRestoreMends& mends = {}) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return CheckScript(&file, facts, mends);
}

struct TExpectedItem {
    K Kind;
    const char* Name;
    S Severity;
    qint64 Count, FirstLine;
};

void ExpectItems(const TCheckReport& r, const std::vector<TExpectedItem>& expected) {
    for (const TExpectedItem& e : expected) {
        const TCheckItem* i = r.Find(e.Kind, QString::fromUtf8(e.Name));
        ASSERT_NE(i, nullptr) << CheckKindText(e.Kind).toStdString() << " " << e.Name << "\n"
                              << FormatCheckReport(r).toStdString();
        EXPECT_EQ(i->Severity, e.Severity) << e.Name;
        EXPECT_EQ(i->Count, e.Count) << e.Name;
        EXPECT_EQ(i->FirstLine, e.FirstLine) << e.Name;
    }
    EXPECT_EQ(r.Items.size(), expected.size()) << FormatCheckReport(r).toStdString();
}

TEST(RestoreCheck, AMySql8DumpOnMariaDb) {
    const TCheckReport r = CheckFile(MySql8Dump, MariaDb11());
    ExpectItems(r, {
                       {K::UnknownCollation, "utf8mb4_0900_ai_ci", S::Fails, 4, 22},
                       {K::SkippedComment, "/*!80016", S::Note, 1, 22},
                       {K::DependentFailure, "items", S::Fails, 5, 45},
                       {K::UnavailableEngine, "ndbcluster", S::Broken, 1, 58},
                       {K::MissingDefiner, "`app_owner`@`%`", S::Broken, 2, 101},
                   });
    EXPECT_EQ(r.FailingLines, (std::vector<qint64>{22, 33, 45, 46, 47, 48, 97, 127, 128}));
    EXPECT_TRUE(r.WouldFail());
    EXPECT_EQ(r.Find(K::UnknownCollation, "utf8mb4_0900_ai_ci")->Suggestion,
              QStringLiteral("--map-collation utf8mb4_0900_ai_ci=utf8mb4_uca1400_nopad_ai_ci"));

    // With the mends offered, nothing fails and every finding is mended.
    TRestoreMends mends;
    mends.Collations = {{QStringLiteral("utf8mb4_0900_ai_ci"), QStringLiteral("utf8mb4_uca1400_nopad_ai_ci")}};
    mends.Definer = TDefinerMend::Current;
    mends.EngineFallback = QStringLiteral("InnoDB");
    const TCheckReport m = CheckFile(MySql8Dump, MariaDb11(), mends);
    EXPECT_EQ(m.FailingLines, std::vector<qint64>());
    EXPECT_FALSE(m.WouldFail()) << FormatCheckReport(m).toStdString();
    for (const TCheckItem& i : m.Items)
        if (i.Severity != S::Note) EXPECT_EQ(i.Mended, i.Count) << i.Name.toStdString();
}

TEST(RestoreCheck, AMariaDb11DumpOnMySql8) {
    const TCheckReport r = CheckFile(MariaDb11Dump, MySql8());
    ExpectItems(r, {
                       {K::SandboxLine, "/*M!999999\\-", S::Note, 1, 1},
                       {K::SkippedComment, "/*M!100616", S::Note, 2, 17},
                       {K::UnknownCollation, "utf8mb4_uca1400_ai_ci", S::Fails, 4, 26},
                       {K::DependentFailure, "notes", S::Fails, 5, 37},
                       {K::DependentFailure, "facts", S::Fails, 4, 63},
                       {K::UnavailableEngine, "Columnstore", S::Broken, 1, 52},
                       {K::UnknownSqlMode, "NO_AUTO_CREATE_USER", S::Fails, 1, 94},
                       {K::MissingDefiner, "`report_owner`@`localhost`", S::Broken, 2, 96},
                   });
    EXPECT_EQ(r.FailingLines, (std::vector<qint64>{26, 37, 38, 39, 42, 52, 63, 64, 65, 67, 92, 94, 115, 116}));
    EXPECT_EQ(r.Find(K::UnknownCollation, "utf8mb4_uca1400_ai_ci")->Suggestion,
              QStringLiteral("--map-collation utf8mb4_uca1400_ai_ci=utf8mb4_0900_ai_ci"));
}

TEST(RestoreCheck, ADumpOfTheSameFamilyIsClean) {
    // The MariaDB dump on a MariaDB that has all it names: the sandbox line is its own
    // client's, and nothing is skipped.
    TServerFacts f = MariaDb11();
    f.Engines.insert(QStringLiteral("columnstore"));
    f.Accounts.insert(QStringLiteral("'report_owner'@'localhost'"));
    const TCheckReport r = CheckFile(MariaDb11Dump, f);
    EXPECT_TRUE(r.Empty()) << FormatCheckReport(r).toStdString();
    EXPECT_FALSE(r.WouldFail());
    EXPECT_EQ(r.Statements, 69);
}

// Small scripts: what each names, where, and whether the statement fails.
TEST(RestoreCheck, ClausesStatementsAndLines) {
    struct TCase {
        const char* name;
        const char* script;
        bool mariaDB;
        K kind;
        const char* item;
        S severity;
        qint64 firstLine;
        std::vector<qint64> failing;
    };
    const TCase cases[] = {
        {"column collation", "CREATE TABLE t (a text COLLATE utf8mb4_0900_ai_ci);", true, K::UnknownCollation,
         "utf8mb4_0900_ai_ci", S::Fails, 1, {1}},
        {"quoted collation and utf8 alias known", "SELECT 1;\nSET NAMES utf8 COLLATE 'utf8_general_ci';\nSET collation_connection = `utf8mb4_0900_as_ci`;",
         true, K::UnknownCollation, "utf8mb4_0900_as_ci", S::Fails, 3, {3}},
        {"charset", "\n\nCREATE TABLE t (a text) DEFAULT CHARSET=koi9;", true, K::UnknownCharset, "koi9", S::Fails, 3, {3}},
        {"collation in a string is data", "INSERT INTO t VALUES ('COLLATE utf8mb4_0900_ai_ci');\nCREATE TABLE u (b int) ENGINE=Nope;",
         true, K::UnavailableEngine, "Nope", S::Fails, 2, {2}},
        {"engine replaced without NO_ENGINE_SUBSTITUTION", "SET SESSION sql_mode = '';\nCREATE TABLE u (b int) ENGINE = Nope;",
         true, K::UnavailableEngine, "Nope", S::Broken, 2, {}},
        {"sql_mode back to the server's", "SET sql_mode='';\nSET sql_mode=@OLD;\nCREATE TABLE u (b int) ENGINE=Nope;",
         true, K::UnavailableEngine, "Nope", S::Fails, 3, {3}},
        {"delimiter commands", "DELIMITER $$\nCREATE PROCEDURE p() BEGIN SELECT 1; END$$\nDELIMITER ;\nCREATE TABLE u (b text COLLATE x_ci);",
         true, K::UnknownCollation, "x_ci", S::Fails, 4, {4}},
        {"delimiter glued to the next word", "DELIMITER ;;\nSELECT 1;;CREATE TABLE u (b text COLLATE x_ci);;\n",
         true, K::UnknownCollation, "x_ci", S::Fails, 2, {2}},
        {"skipped MySQL comment", "CREATE TABLE t (a int) /*!80016 COLLATE x_ci */;\n/*!50001 SELECT 1 */;", true,
         K::SkippedComment, "/*!80016", S::Note, 1, {}},
        {"run MySQL comment", "CREATE TABLE t (a int) /*!80016 COLLATE x_ci */;", false, K::UnknownCollation, "x_ci",
         S::Fails, 1, {1}},
        {"MariaDB comment on MySQL", "SELECT 1;\nCREATE TABLE t (a int) /*M!100100 COLLATE x_ci */;", false,
         K::SkippedComment, "/*M!100100", S::Note, 2, {}},
        {"definer in another statement's comment", "CREATE /*!50017 DEFINER='ghost'@'localhost'*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET @a = 1 */;",
         true, K::MissingDefiner, "`ghost`@`localhost`", S::Broken, 1, {}},
        {"definer without host", "CREATE DEFINER = ghost VIEW v AS SELECT 1;", true, K::MissingDefiner, "`ghost`@`%`",
         S::Broken, 1, {}},
        {"a table whose CREATE fails, then its rows", "CREATE TABLE IF NOT EXISTS db.t (a text COLLATE x_ci);\nINSERT INTO `t` VALUES (1);\nINSERT INTO u VALUES (1);",
         true, K::DependentFailure, "t", S::Fails, 2, {1, 2}},
    };
    for (const TCase& c : cases) {
        const TCheckReport r = CheckScript(QString::fromUtf8(c.script), c.mariaDB ? MariaDb11() : MySql8());
        const TCheckItem* i = r.Find(c.kind, QString::fromUtf8(c.item));
        ASSERT_NE(i, nullptr) << c.name << "\n" << FormatCheckReport(r).toStdString();
        EXPECT_EQ(i->Severity, c.severity) << c.name;
        EXPECT_EQ(i->FirstLine, c.firstLine) << c.name;
        EXPECT_EQ(r.FailingLines, c.failing) << c.name << "\n" << FormatCheckReport(r).toStdString();
    }
}

TEST(RestoreCheck, WhatTheAccountMayNotDo) {
    TServerFacts f = MySql8();
    f.MaySetDefiner = f.MaySetGlobal = false;
    f.AccountsKnown = false;
    const TCheckReport r = CheckScript(
        QStringLiteral("CREATE DEFINER=`root`@`localhost` VIEW v AS SELECT 1;\n"
                       "CREATE DEFINER=`restorer`@`%` VIEW w AS SELECT 1;\n"
                       "CREATE DEFINER=CURRENT_USER() VIEW x AS SELECT 1;\n"
                       "SET @@GLOBAL.gtid_purged = '';\nSET GLOBAL max_connections = 10, @x = 1;\nSET @global = 1;\n"),
        f);
    ExpectItems(r, {
                       {K::DefinerPrivilege, "`root`@`localhost`", S::Fails, 1, 1},
                       {K::SetGlobal, "gtid_purged", S::Fails, 1, 4},
                       {K::SetGlobal, "max_connections", S::Fails, 1, 5},
                   });
    EXPECT_EQ(r.FailingLines, (std::vector<qint64>{1, 4, 5}));
}

TEST(RestoreCheck, ExecutableCommentsAsEachServerReadsThem) {
    struct TCase {
        const char* opener;
        bool mariaDB;
        int version;
        bool runs;
    };
    const TCase cases[] = {
        {"/*!", true, 101106, true},          {"/*!40101", true, 101106, true},
        {"/*!50013", true, 101106, true},     {"/*!50700", true, 101106, false},
        {"/*!80016", true, 110404, false},    {"/*!99999", true, 110404, false},
        {"/*!100100", true, 101106, true},    {"/*!110000", true, 101106, false},
        {"/*M!100616", true, 101106, true},   {"/*M!110000", true, 101106, false},
        {"/*M!999999", true, 110404, false},  {"/*!80016", false, 80036, true},
        {"/*!80040", false, 80036, false},    {"/*M!100100", false, 80036, false},
        {"/*M!", false, 80036, false},        {"/*!100100", false, 80036, false},
    };
    for (const TCase& c : cases) {
        TServerFacts f;
        f.MariaDB = c.mariaDB;
        f.Version = c.version;
        EXPECT_EQ(RunsExecutableComment(QString::fromLatin1(c.opener), f), c.runs) << c.opener << " " << c.version;
    }
}

TEST(RestoreMend, StatementsAsTheMendsMakeThem) {
    TRestoreMends all;
    all.Collations = {{QStringLiteral("utf8mb4_0900_ai_ci"), QStringLiteral("utf8mb4_uca1400_nopad_ai_ci")},
                      {QStringLiteral("odd_ci"), QStringLiteral("odd name")}};
    all.Definer = TDefinerMend::Current;
    all.EngineFallback = QStringLiteral("InnoDB");
    all.KnownEngines = Set({"innodb", "myisam"});
    TRestoreMends drop = all;
    drop.Definer = TDefinerMend::Drop;
    struct TCase {
        const char* name;
        const TRestoreMends* mends;
        const char* in;
        const char* out;
        qint64 collations, definers, engines;
    };
    const TCase cases[] = {
        {"table", &all,
         "CREATE TABLE `t` (\n  `a` varchar(3) COLLATE utf8mb4_0900_ai_ci\n) ENGINE=ndbcluster DEFAULT CHARSET=utf8mb4 COLLATE=UTF8MB4_0900_AI_CI",
         "CREATE TABLE `t` (\n  `a` varchar(3) COLLATE utf8mb4_uca1400_nopad_ai_ci\n) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_uca1400_nopad_ai_ci",
         2, 0, 1},
        {"known engine kept", &all, "CREATE TABLE t (a int) ENGINE = MyISAM", "CREATE TABLE t (a int) ENGINE = MyISAM", 0, 0, 0},
        {"a name that needs quotes", &all, "SET collation_connection = odd_ci", "SET collation_connection = `odd name`", 1, 0, 0},
        {"strings and quoted names are data", &all,
         "INSERT INTO `COLLATE` VALUES ('COLLATE utf8mb4_0900_ai_ci', 'DEFINER=`x`@`y`', 'ENGINE=ndb')",
         "INSERT INTO `COLLATE` VALUES ('COLLATE utf8mb4_0900_ai_ci', 'DEFINER=`x`@`y`', 'ENGINE=ndb')", 0, 0, 0},
        {"definer to the current account", &all,
         "CREATE DEFINER=`app`@`%` PROCEDURE p() SELECT 1",
         "CREATE DEFINER=CURRENT_USER PROCEDURE p() SELECT 1", 0, 1, 0},
        {"definer in an executable comment", &all,
         "/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER='app'@'localhost' SQL SECURITY DEFINER */\n/*!50001 VIEW v AS select 1 */",
         "/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=CURRENT_USER SQL SECURITY DEFINER */\n/*!50001 VIEW v AS select 1 */",
         0, 1, 0},
        {"definer dropped", &drop,
         "CREATE DEFINER = app@localhost TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET @definer = 1",
         "CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET @definer = 1", 0, 1, 0},
        {"definer at the end of a comment dropped", &drop, "/*!50017 DEFINER=`a`@`b`*/ /*!50003 TRIGGER",
         "/*!50017 */ /*!50003 TRIGGER", 0, 1, 0},
        {"current user stays", &all, "CREATE DEFINER=CURRENT_USER() VIEW v AS SELECT 1",
         "CREATE DEFINER=CURRENT_USER() VIEW v AS SELECT 1", 0, 0, 0},
        {"SQL SECURITY DEFINER alone", &all, "ALTER SQL SECURITY DEFINER VIEW v AS SELECT 1",
         "ALTER SQL SECURITY DEFINER VIEW v AS SELECT 1", 0, 0, 0},
    };
    for (const TCase& c : cases) {
        TMendCounts counts;
        EXPECT_EQ(MendStatement(QString::fromUtf8(c.in), *c.mends, counts), QString::fromUtf8(c.out)) << c.name;
        EXPECT_EQ(counts.Collations, c.collations) << c.name;
        EXPECT_EQ(counts.Definers, c.definers) << c.name;
        EXPECT_EQ(counts.Engines, c.engines) << c.name;
    }
}

TEST(RestoreMend, SafeEquivalentsOnlyWhereTheTargetHasThem) {
    EXPECT_EQ(SafeCollationFor(QStringLiteral("utf8mb4_0900_ai_ci"), MariaDb11().Collations),
              QStringLiteral("utf8mb4_uca1400_nopad_ai_ci"));
    QSet<QString> before1010 = Set({"utf8mb4_unicode_520_ci", "utf8mb4_unicode_520_nopad_ci"});
    EXPECT_EQ(SafeCollationFor(QStringLiteral("UTF8MB4_0900_AI_CI"), before1010), QStringLiteral("utf8mb4_unicode_520_nopad_ci"));
    EXPECT_EQ(SafeCollationFor(QStringLiteral("utf8mb4_uca1400_ai_ci"), MySql8().Collations), QStringLiteral("utf8mb4_0900_ai_ci"));
    EXPECT_EQ(SafeCollationFor(QStringLiteral("utf8mb4_0900_as_ci"), MariaDb11().Collations), QString());
    EXPECT_EQ(NormalCollationName(u"UTF8_general_ci"), QStringLiteral("utf8mb3_general_ci"));
}

}  // namespace

namespace {

TEST(RestoreMend, TheMendsAReportOffers) {
    const TServerFacts facts = MariaDb11();
    const TRestoreMends offered = OfferedMends(CheckFile(MySql8Dump, facts), facts);
    EXPECT_EQ(offered.Collations, (std::vector<std::pair<QString, QString>>{
                                      {QStringLiteral("utf8mb4_0900_ai_ci"), QStringLiteral("utf8mb4_uca1400_nopad_ai_ci")}}));
    EXPECT_EQ(offered.Definer, TDefinerMend::Current);
    EXPECT_EQ(offered.EngineFallback, QStringLiteral("InnoDB"));
    EXPECT_FALSE(CheckFile(MySql8Dump, facts, offered).WouldFail());
    // Nothing to offer for a clean file.
    EXPECT_FALSE(OfferedMends(CheckScript(QStringLiteral("SELECT 1;"), facts), facts).Any());
}

}  // namespace
