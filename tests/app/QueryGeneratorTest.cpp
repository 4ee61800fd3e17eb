// The query generator's texts as exact strings, without a window or a server: every action with
// and without quoting, one field per row and an alias, on a table with a composite primary key,
// a table without a key, names that need quoting and a view; line packing; the view layout.
#include "app/QueryGenerators.h"
#include "support/QtPrinters.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace calvoro::app;

namespace {

// Test texts are written with "\n"; the generators end lines with CR LF.
QString L(const char* text) { return QString::fromUtf8(text).replace(u'\n', QStringLiteral("\r\n")); }

const QString OrdersCreate = QStringLiteral(
    "CREATE TABLE `orders` (\n  `order_id` int(11) NOT NULL,\n  `line_no` int(11) NOT NULL,\n  `qty` int(11) "
    "DEFAULT NULL,\n  `note` varchar(100) DEFAULT NULL,\n  PRIMARY KEY (`order_id`,`line_no`)\n) ENGINE=InnoDB");

// Composite primary key, key columns first.
TDBObjectInfo Orders() {
    return {{{"order_id", "int(11)", "PRI"}, {"line_no", "int(11)", "PRI"}, {"qty", "int(11)", ""},
             {"note", "varchar(100)", ""}},
            OrdersCreate};
}

struct Case {
    int action;
    bool quote;
    bool eachRow;
    const char* alias;
    const char* expected;
};

void Check(const TDBObjectInfo& info, const QString& name, bool isView, const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(GenerateStatement(info, name, isView, c.action, QString::fromUtf8(c.alias), c.quote, c.eachRow),
                  L(c.expected))
            << name.toStdString() << " action " << c.action << " quote " << c.quote << " eachRow " << c.eachRow << " alias '"
            << c.alias << "'";
}

}  // namespace

TEST(QueryGenerator, CompositeKeyTable) {
    Check(Orders(), QStringLiteral("orders"), false, {
        {gaName, true, true, "", "`orders`"},
        {gaName, true, true, "o", "`o`.`orders`"},
        {gaName, false, true, "o", "o.orders"},
        {gaSelect, true, true, "", "SELECT \n  `order_id`,\n  `line_no`,\n  `qty`,\n  `note`\nFROM `orders`\n"},
        {gaSelect, true, true, "o", "SELECT \n  `o`.`order_id`,\n  `o`.`line_no`,\n  `o`.`qty`,\n  `o`.`note`\nFROM `orders` `o`\n"},
        {gaSelect, true, false, "", "SELECT `order_id`, `line_no`, `qty`, `note`\nFROM `orders`\n"},
        {gaSelect, false, false, "o", "SELECT o.order_id, o.line_no, o.qty, o.note\nFROM orders o\n"},
        {gaInsert, true, true, "", "INSERT INTO `orders`\n (\n  `order_id`,\n  `line_no`,\n  `qty`,\n  `note`\n )\n"
                                   "VALUE\n (\n  :order_id,\n  :line_no,\n  :qty,\n  :note\n )\n"},
        {gaInsert, true, false, "", "INSERT INTO `orders` ( `order_id`, `line_no`, `qty`, `note` )\n"
                                    "VALUE ( :order_id, :line_no, :qty, :note )\n"},
        {gaInsert, false, false, "", "INSERT INTO orders ( order_id, line_no, qty, note )\nVALUE ( :order_id, :line_no, :qty, :note )\n"},
        {gaUpdate, true, true, "", "UPDATE `orders`\nSET \n  `qty` = :qty,\n  `note` = :note\n"
                                   "WHERE \n  `order_id` = :order_id AND \n  `line_no` = :line_no\n"},
        {gaUpdate, true, true, "o", "UPDATE `orders` `o`\nSET \n  `o`.`qty` = :qty,\n  `o`.`note` = :note\n"
                                    "WHERE \n  `o`.`order_id` = :order_id AND \n  `o`.`line_no` = :line_no\n"},
        {gaUpdate, true, false, "", "UPDATE `orders` SET `qty` = :qty, `note` = :note\n"
                                    "WHERE `order_id` = :order_id AND `line_no` = :line_no\n"},
        {gaUpdate, false, false, "o", "UPDATE orders o SET o.qty = :qty, o.note = :note\n"
                                      "WHERE o.order_id = :order_id AND o.line_no = :line_no\n"},
        {gaDelete, true, true, "", "DELETE FROM `orders`\nWHERE \n  `order_id` = :order_id AND \n  `line_no` = :line_no\n"},
        {gaDelete, true, false, "", "DELETE FROM `orders`\nWHERE `order_id` = :order_id AND `line_no` = :line_no\n"},
        {gaDelete, false, false, "", "DELETE FROM orders\nWHERE order_id = :order_id AND line_no = :line_no\n"},
        {gaAlter, true, true, "", "ALTER TABLE `orders`"},
        {gaAlter, false, true, "", "ALTER TABLE orders"},
        {gaDrop, true, true, "", "DROP TABLE IF EXISTS `orders`"},
        {gaDrop, false, true, "", "DROP TABLE IF EXISTS orders"},
        {gaFieldList, true, true, "", "`order_id`,\n`line_no`,\n`qty`,\n`note`\n"},
        {gaFieldList, true, false, "o", "`o`.`order_id`, `o`.`line_no`, `o`.`qty`, `o`.`note`\n"},
        {gaFieldList, false, true, "o", "o.order_id,\no.line_no,\no.qty,\no.note\n"},
        {gaFieldTypeList, true, true, "", "`order_id` int(11),\n`line_no` int(11),\n`qty` int(11),\n`note` varchar(100)\n"},
        {gaFieldTypeList, false, false, "o", "o.order_id int(11), o.line_no int(11), o.qty int(11), o.note varchar(100)\n"},
        {-1, true, true, "o", ""},
        {10, true, true, "", ""},
    });
    EXPECT_EQ(GenerateStatement(Orders(), "orders", false, gaCreate, "", true, true), OrdersCreate);
    EXPECT_EQ(GenerateStatement(Orders(), "orders", false, gaCreate, "", false, true),
              QString(OrdersCreate).remove(u'`'));
}

// Over every combination of action, quoting, one field per row and alias: with plain names,
// quoting off gives the quoted text without its backticks (packed lines may break elsewhere);
// the alias shows only where it belongs, and the actions without field lists ignore the row
// layout.
TEST(QueryGenerator, EveryCombinationOfOptions) {
    for (int action = gaName; action <= gaFieldTypeList; ++action)
        for (bool eachRow : {true, false})
            for (const QString& alias : {QString(), QStringLiteral("o")}) {
                const QString quoted = GenerateStatement(Orders(), "orders", false, action, alias, true, eachRow);
                const QString bare = GenerateStatement(Orders(), "orders", false, action, alias, false, eachRow);
                // Packed lines break elsewhere once the backticks are gone.
                EXPECT_EQ(eachRow ? bare : bare.simplified(),
                          eachRow ? QString(quoted).remove(u'`') : QString(quoted).remove(u'`').simplified())
                    << action << eachRow << alias.toStdString();
                const bool aliasUsed = action == gaName || action == gaSelect || action == gaUpdate ||
                                       action == gaFieldList || action == gaFieldTypeList;
                EXPECT_EQ(quoted.contains(QStringLiteral("`o`")), aliasUsed && !alias.isEmpty()) << action << alias.toStdString();
                const bool layoutUsed = (action != gaName && action < gaCreate) || action > gaDrop;
                if (!layoutUsed) {
                    EXPECT_EQ(quoted, GenerateStatement(Orders(), "orders", false, action, alias, true, !eachRow))
                        << action;
                }
            }
}

TEST(QueryGenerator, TableWithoutKey) {
    const TDBObjectInfo log{{{"msg", "text", ""}, {"at", "datetime", ""}}, std::nullopt};
    Check(log, QStringLiteral("log"), false, {
        {gaUpdate, true, true, "", "UPDATE `log`\nSET \n  `msg` = :msg,\n  `at` = :at\nWHERE \n"},
        {gaUpdate, true, false, "", "UPDATE `log` SET `msg` = :msg, `at` = :at\nWHERE\n"},
        {gaDelete, true, true, "", "DELETE FROM `log`\nWHERE \n"},
        {gaDelete, false, false, "", "DELETE FROM log\nWHERE\n"},
        {gaSelect, true, false, "l", "SELECT `l`.`msg`, `l`.`at`\nFROM `log` `l`\n"},
        {gaCreate, true, true, "", "Invalid database object!"},
        {gaCreate, false, true, "", "Invalid database object!"},
    });
}

// Names with a blank, a backtick and a reserved word; the primary key is the last column, so
// the last assignment has no comma. Quoted parameter names keep the statement runnable; with
// quoting off only the names that need quotes keep them.
TEST(QueryGenerator, NamesThatNeedQuoting) {
    const TDBObjectInfo odd{{{"first name", "varchar(20)", ""}, {"order", "int(11)", ""}, {"we`ird", "text", ""},
                             {"id", "int(11)", "pri"}},
                            QStringLiteral("CREATE TABLE `my table` (`id` int, `we``ird` text COMMENT 'it`s `id`')")};
    Check(odd, QStringLiteral("my table"), false, {
        {gaName, true, true, "x y", "`x y`.`my table`"},
        {gaName, false, true, "x y", "`x y`.`my table`"},
        {gaSelect, true, false, "", "SELECT `first name`, `order`, `we``ird`, `id`\nFROM `my table`\n"},
        {gaInsert, true, false, "", "INSERT INTO `my table` ( `first name`, `order`, `we``ird`, `id` )\n"
                                    "VALUE ( :`first name`, :order, :weird, :id )\n"},
        {gaUpdate, true, true, "", "UPDATE `my table`\nSET \n  `first name` = :`first name`,\n  `order` = :order,\n"
                                   "  `we``ird` = :weird\nWHERE \n  `id` = :id\n"},
        {gaUpdate, false, true, "", "UPDATE `my table`\nSET \n  `first name` = :`first name`,\n  `order` = :order,\n"
                                    "  `we``ird` = :weird\nWHERE \n  id = :id\n"},
        {gaDelete, true, false, "", "DELETE FROM `my table`\nWHERE `id` = :id\n"},
        {gaFieldTypeList, true, false, "", "`first name` varchar(20), `order` int(11), `we``ird` text, `id` int(11)\n"},
        {gaAlter, true, true, "", "ALTER TABLE `my table`"},
        {gaDrop, false, true, "", "DROP TABLE IF EXISTS `my table`"},
        // Backticks go where a name reads the same without them; strings stay as they are.
        {gaCreate, false, true, "", "CREATE TABLE `my table` (id int, `we``ird` text COMMENT 'it`s `id`')"},
    });
    // Names from the server that look quoted already, or carry a statement: one name each.
    const TDBObjectInfo crafted{{{"`k`", "int(11)", "PRI"}, {"v;DROP TABLE t", "text", ""}}, std::nullopt};
    Check(crafted, QStringLiteral("`x`;DROP TABLE t;SELECT `1`"), false, {
        {gaName, true, true, "", "```x``;DROP TABLE t;SELECT ``1```"},
        {gaName, false, true, "", "```x``;DROP TABLE t;SELECT ``1```"},
        {gaAlter, true, true, "", "ALTER TABLE ```x``;DROP TABLE t;SELECT ``1```"},
        {gaDrop, false, true, "", "DROP TABLE IF EXISTS ```x``;DROP TABLE t;SELECT ``1```"},
        {gaUpdate, false, false, "", "UPDATE ```x``;DROP TABLE t;SELECT ``1``` SET\n`v;DROP TABLE t` = :`v;DROP TABLE t`\n"
                                     "WHERE ```k``` = :k\n"},
        {gaDelete, true, false, "", "DELETE FROM ```x``;DROP TABLE t;SELECT ``1```\nWHERE ```k``` = :k\n"},
    });
}

TEST(QueryGenerator, View) {
    const QString create = QStringLiteral(
        "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW `v` AS select "
        "`t`.`a` AS `a`,`t`.`b` AS `b` from `t`");
    const TDBObjectInfo v{{{"a", "int(11)", ""}, {"b", "varchar(5)", ""}}, create};
    Check(v, QStringLiteral("v"), true, {
        {gaCreate, true, true, "", "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER "
                                   "VIEW `v`\n  AS\nSELECT\n`t`.`a` AS `a`,\n  `t`.`b` AS `b`\nFROM\n  `t`"},
        {gaCreate, false, false, "x", "CREATE ALGORITHM=UNDEFINED DEFINER=root@localhost SQL SECURITY DEFINER "
                                      "VIEW v\n  AS\nSELECT\nt.a AS a,\n  t.b AS b\nFROM\n  t"},
        {gaAlter, true, true, "", "ALTER VIEW `v`"},
        {gaAlter, false, true, "", "ALTER VIEW v"},
        {gaDrop, true, true, "", "DROP VIEW IF EXISTS `v`"},
        {gaSelect, true, true, "x", "SELECT \n  `x`.`a`,\n  `x`.`b`\nFROM `v` `x`\n"},
        {gaFieldList, true, false, "", "`a`, `b`\n"},
    });
}

TEST(QueryGenerator, FormatViewDefinition) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        // Keywords in any letter case.
        {"CREATE VIEW `v` AS SELECT `a`,`b` FROM `t` WHERE 1", "CREATE VIEW `v`\n  AS\nSELECT\n`a`,\n  `b`\nFROM\n  `t` WHERE 1"},
        // A first expression of one character keeps its blank.
        {"CREATE VIEW `v` AS select 1 AS `x` from `t`", "CREATE VIEW `v`\n  AS\nSELECT\n1 AS `x`\nFROM\n  `t`"},
        // " from " in the view's name is not the select's FROM.
        {"CREATE VIEW `a from b` AS select `t`.`c` AS `c` from `t`",
         "CREATE VIEW `a from b`\n  AS\nSELECT\n`t`.`c` AS `c`\nFROM\n  `t`"},
        // Without a FROM, unchanged.
        {"CREATE VIEW `v` AS select 1 AS `x`", "CREATE VIEW `v` AS select 1 AS `x`"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatViewDefinition(QString::fromUtf8(c.in)), L(c.out)) << c.in;
}

TEST(QueryGenerator, PackLines) {
    const QString w19a(19, u'a'), w19b(19, u'b'), w19c(19, u'c'), w19d(19, u'd'), long80(80, u'x'), full79(79, u'y');
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"", "\r\n"},
        {"SELECT \r\n\r\n    `a`,\r\n\t`b` \x01\r\n", "SELECT `a`, `b`\r\n"},
        {"one\ntwo\rthree", "one two three\r\n"},
        // 20 + 1 + 20 + 1 + 20 = 62 characters fit, one more would give 83.
        {w19a + ",\r\n" + w19b + ",\r\n" + w19c + ",\r\n" + w19d + ",\r\n" + w19a,
         w19a + ", " + w19b + ", " + w19c + ",\r\n" + w19d + ", " + w19a + "\r\n"},
        {full79 + "\r\n", full79 + "\r\n"},
        {full79 + "\r\nz", full79 + "\r\nz\r\n"},
        // A first line longer than 79 stands alone after an empty line.
        {long80 + "\r\nb\r\n", "\r\n" + long80 + "\r\nb\r\n"},
        {long80 + "\r\n", "\r\n" + long80 + "\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(PackLines(c.in), c.out) << c.in.toStdString();
}

// With one field per row off, a long list breaks into lines of at most 79 characters with
// single blanks after the commas, and reads as the same list.
TEST(QueryGenerator, LongFieldListPacksIntoShortLines) {
    TDescribeRows fields;
    QStringList quoted;
    for (int i = 0; i < 30; ++i) {
        fields.push_back({QStringLiteral("column_%1").arg(i, 2, 10, QChar(u'0')), "int", ""});
        quoted << u'`' + fields.back().Field + u'`';
    }
    const QString text = GenerateFieldList(fields, QString(), true, false);
    ASSERT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    const QStringList lines = text.chopped(2).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.size(), 5);  // 6 names with "," and blanks fill 77 characters, 7 would fill 90
    for (const QString& line : lines) EXPECT_LE(line.size(), 79) << line.toStdString();
    EXPECT_EQ(lines.join(u' '), quoted.join(QStringLiteral(", ")));
}
