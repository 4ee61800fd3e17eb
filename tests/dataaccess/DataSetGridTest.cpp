// The grid model, grid and navigator over a query of the test server: what cells show (NULL,
// bytes, values cut to the display width and shown whole as tips and in editors), edits that
// post (or stay open when the server refuses them), editors left unchanged, Set to NULL, the
// current row kept in step both ways, changes refused while the connection is busy, and
// navigator buttons enabled by the data set's state.

#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

class GridTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_grid"));
    }
    void SetUp() override {
        c = NewConnection(true, QStringLiteral("calvoro_grid"));
        c->Connect();
        c->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS g"));
        c->ExecSQL(QStringLiteral("CREATE TABLE g (id INT PRIMARY KEY, name VARCHAR(5), amount DECIMAL(10,2), "
                                  "bin VARBINARY(4), data BLOB, note TEXT)"));
        c->ExecSQL(QStringLiteral("INSERT INTO g VALUES (1, 'one', 1.50, 0x00FF, 'abc', 'n1'), "
                                  "(2, '', NULL, NULL, NULL, NULL), (3, NULL, -2.00, '', '', '')"));
        q.SetConnection(c.get());
        q.SQL().SetText(QStringLiteral("SELECT * FROM g ORDER BY id"));
        q.Open();
        model.SetDataSet(&q);
    }
    QString Server() { return RowsText(*c, QStringLiteral("SELECT id, name, amount FROM g ORDER BY id")); }

    std::unique_ptr<TMyConnection> c;
    TMyQuery q;
    TDataSetModel model;
};

TEST_F(GridTest, CellsShowValuesNullAndBytesApart) {
    ASSERT_EQ(model.rowCount(), 3);
    ASSERT_EQ(model.columnCount(), 6);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("name"));
    const char* expected[3][6] = {
        {"1", "one", "1.50", "0x00FF", "0x616263", "n1"},
        {"2", "", "(NULL)", "(NULL)", "(NULL)", "(NULL)"},
        {"3", "(NULL)", "-2.00", "0x", "0x", ""},
    };
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 6; ++column) {
            SCOPED_TRACE(testing::Message() << "row " << row << " column " << column);
            EXPECT_EQ(model.CellText(row, column), QString::fromUtf8(expected[row][column]));
            EXPECT_EQ(model.data(model.index(row, column), TDataSetModel::IsNullRole).toBool(),
                      QString::fromUtf8(expected[row][column]) == TDataSetModel::NullText);
        }
    // The empty string and NULL differ for the editor too.
    EXPECT_TRUE(model.data(model.index(1, 1), Qt::EditRole).isValid());
    EXPECT_FALSE(model.data(model.index(2, 1), Qt::EditRole).isValid());
    EXPECT_TRUE(model.data(model.index(0, 2), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    // Bytes are not edited as text.
    EXPECT_TRUE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.flags(model.index(0, 3)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.flags(model.index(0, 4)) & Qt::ItemIsEditable);
}

TEST_F(GridTest, EditingACellPostsAndAFailedPostKeepsTheEdit) {
    QSignalSpy errors(&model, &TDataSetModel::errorOccurred);
    EXPECT_TRUE(model.setData(model.index(1, 1), QStringLiteral("two")));
    EXPECT_EQ(q.State(), dsBrowse);
    EXPECT_EQ(Server(), QStringLiteral("1,one,1.50|2,two,NULL|3,NULL,-2.00"));
    EXPECT_TRUE(model.setData(model.index(0, 2), QVariant()));  // an invalid value: NULL
    EXPECT_TRUE(model.setData(model.index(2, 1), QString()));   // an empty text: ''
    EXPECT_EQ(Server(), QStringLiteral("1,one,NULL|2,two,NULL|3,,-2.00"));
    EXPECT_EQ(errors.count(), 0);

    // Too long for the column: the server refuses, the row stays in edit with the text typed.
    EXPECT_FALSE(model.setData(model.index(0, 1), QStringLiteral("toolong")));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(errors[0][0].toString().contains(u"Data too long")) << errors[0][0].toString().toStdString();
    EXPECT_EQ(q.State(), dsEdit);
    EXPECT_EQ(model.data(model.index(0, 1), Qt::EditRole).toString(), QStringLiteral("toolong"));
    EXPECT_EQ(model.headerData(0, Qt::Vertical).toString(), QStringLiteral("✎"));
    EXPECT_EQ(Server(), QStringLiteral("1,one,NULL|2,two,NULL|3,,-2.00"));
    // Moving away tries the post again and stays when it fails.
    EXPECT_FALSE(model.MoveTo(2));
    EXPECT_EQ(q.RecNo(), 1);
    q.Cancel();
    EXPECT_EQ(model.CellText(0, 1), QStringLiteral("one"));
}

TEST_F(GridTest, LongValuesAreCutToTheDisplayWidthAndShownWholeAsTipAndInTheEditor) {
    c->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS longs"));
    c->ExecSQL(QStringLiteral("CREATE TABLE longs (id INT PRIMARY KEY, v VARCHAR(100), memo TEXT, b BLOB, "
                              "n DECIMAL(30,2), d DATETIME) CHARACTER SET utf8mb4"));
    c->ExecSQL(QString::fromUtf8("INSERT INTO longs VALUES "
                                 "(1, 'abcdefghij0123456789', 'line1\nline2', UNHEX(REPEAT('00010203', 10)), "
                                 "1234567890123456789012.50, '2024-02-29 23:59:58'), "
                                 "(2, '123456789\xF0\x9F\x98\x80x', REPEAT('x', 5000), REPEAT('z', 1500), 1, NULL), "
                                 "(3, 'short', '', 0x0A0B, 2, NULL)"));
    TMyQuery longs;
    longs.SetConnection(c.get());
    longs.SQL().SetText(QStringLiteral("SELECT * FROM longs ORDER BY id"));
    longs.Open();
    TDataSetModel m;
    m.SetDataSet(&longs);
    const int widths[] = {3, 10, 20, 8, 5, 4};  // numbers and dates are never cut
    for (int column = 0; column < 6; ++column) longs.Fields()[column].SetDisplayWidth(widths[column]);

    const QString x4000(4000, u'x');
    const QString hex40 = QStringLiteral("00010203").repeated(10);
    struct Case {
        int row, column;
        QString shown, tip, edited;  // the tip empty: none (the cell shows the whole value)
    } cases[] = {
        {0, 1, QStringLiteral("abcdefghij…"), QStringLiteral("abcdefghij0123456789"), QStringLiteral("abcdefghij0123456789")},
        {0, 2, QStringLiteral("line1↵line2"), QStringLiteral("line1\nline2"), QStringLiteral("line1\nline2")},
        {0, 3, QStringLiteral("0x00010203…"), QStringLiteral("0x%1 (40 bytes)").arg(hex40.toUpper()), {}},
        {0, 4, QStringLiteral("1234567890123456789012.50"), {}, QStringLiteral("1234567890123456789012.50")},
        {0, 5, QStringLiteral("2024-02-29 23:59:58"), {}, QStringLiteral("2024-02-29 23:59:58")},
        // A character of two UTF-16 units is never cut in half.
        {1, 1, QStringLiteral("123456789…"), QString::fromUtf8("123456789\xF0\x9F\x98\x80x"),
         QString::fromUtf8("123456789\xF0\x9F\x98\x80x")},
        // Tips have a limit; the editor has none.
        {1, 2, QString(20, u'x') + u'…', x4000 + QStringLiteral("… (5000 characters)"), QString(5000, u'x')},
        {1, 3, QStringLiteral("0x7A7A7A7A…"), QStringLiteral("0x%1… (1500 bytes)").arg(QStringLiteral("7A").repeated(1000)), {}},
        {2, 1, QStringLiteral("short"), {}, QStringLiteral("short")},
        {2, 2, QString(), {}, QString()},
        {2, 3, QStringLiteral("0x0A0B"), {}, {}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << "row " << tc.row << " column " << tc.column);
        const QModelIndex index = m.index(tc.row, tc.column);
        EXPECT_EQ(m.CellText(tc.row, tc.column), tc.shown);
        EXPECT_EQ(m.data(index, Qt::ToolTipRole).toString(), tc.tip);
        EXPECT_EQ(m.data(index, Qt::EditRole).toString(), tc.edited);
    }
    // Wider display widths show more.
    longs.Fields()[1].SetDisplayWidth(100);
    EXPECT_EQ(m.CellText(0, 1), QStringLiteral("abcdefghij0123456789"));
    EXPECT_FALSE(m.data(m.index(0, 1), Qt::ToolTipRole).isValid());

    // The grid sizes its columns after the display widths, keeps what the user set while the
    // fields stay, and sizes again on request.
    TDBGrid grid;
    grid.SetDataSet(&longs);
    EXPECT_LT(grid.columnWidth(0), grid.columnWidth(1));  // 3 characters against 40 at most
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    const double charWidth = grid.fontMetrics().horizontalAdvance(sample) / double(sample.size());
    EXPECT_LT(grid.columnWidth(1), 50 * charWidth);
    grid.setColumnWidth(1, 33);
    longs.Last();
    longs.Delete();  // one row less: the model starts again, with the same fields
    EXPECT_EQ(grid.Model().rowCount(), 2);
    EXPECT_EQ(grid.columnWidth(1), 33);
    longs.Fields()[1].SetDisplayWidth(10);
    grid.SizeColumns();
    // 10 characters and the mark of a cut value, 8 pixels of margin: room for the widest text.
    EXPECT_EQ(grid.columnWidth(1), int(11 * charWidth) + 8);
    EXPECT_GE(grid.columnWidth(1), grid.fontMetrics().horizontalAdvance(QStringLiteral("ABCDEFGHIJ…")));
}

TEST_F(GridTest, EditorsWriteOnlyWhatWasTypedAndSetToNullWritesNull) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* grid = new TDBGrid(&window);
    layout->addWidget(grid);
    grid->SetDataSet(&q);
    QSignalSpy errors(grid, &TDBGrid::errorOccurred);
    window.resize(640, 300);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto editAt = [&](int row, int column) {
        grid->setCurrentIndex(grid->Model().index(row, column));
        grid->edit(grid->currentIndex());
        return grid->indexWidget(grid->currentIndex());
    };
    auto notes = [&] { return RowsText(*c, QStringLiteral("SELECT id, name, note, HEX(bin) FROM g ORDER BY id")); };
    const QString before = notes();
    ASSERT_EQ(before, QStringLiteral("1,one,n1,00FF|2,,NULL,NULL|3,NULL,,"));

    // An editor on a NULL shows the mark as a placeholder; left without typing, NULL stays.
    auto* line = qobject_cast<QLineEdit*>(editAt(2, 1));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), QString());
    EXPECT_EQ(line->placeholderText(), TDataSetModel::NullText);
    QTest::keyClick(line, Qt::Key_Return);
    EXPECT_EQ(notes(), before);
    EXPECT_EQ(q.State(), dsBrowse);
    // A memo gets a multi-line editor; Enter is a new line there, Ctrl+Enter stores.
    auto* memo = qobject_cast<QPlainTextEdit*>(editAt(0, 5));
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("n1"));
    QTest::keyClick(memo, Qt::Key_End);
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, QStringLiteral("n2"));
    QTest::keyClick(memo, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT note FROM g WHERE id = 1")), QStringLiteral("n1\nn2"));

    // Ctrl+0 sets NULL: in a text cell, in a binary one (not editable as text), and in a cell
    // whose editor holds typed text, which is dropped.
    grid->setCurrentIndex(grid->Model().index(0, 1));
    QTest::keyClick(grid, Qt::Key_0, Qt::ControlModifier);
    grid->setCurrentIndex(grid->Model().index(0, 3));
    EXPECT_FALSE(grid->Model().flags(grid->currentIndex()) & Qt::ItemIsEditable);
    QTest::keyClick(grid, Qt::Key_0, Qt::ControlModifier);
    line = qobject_cast<QLineEdit*>(editAt(1, 1));
    ASSERT_NE(line, nullptr);
    QTest::keyClicks(line, QStringLiteral("zz"));
    QTest::keyClick(line, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(notes(), QStringLiteral("1,NULL,n1\nn2,NULL|2,NULL,NULL,NULL|3,NULL,,"));
    EXPECT_EQ(grid->Model().CellText(1, 1), TDataSetModel::NullText);
    EXPECT_EQ(grid->indexWidget(grid->currentIndex()), nullptr);  // the editor went
    EXPECT_EQ(errors.count(), 0);

    // A result that cannot be written: nothing to set.
    TMyQuery sums;
    sums.SetConnection(c.get());
    sums.SQL().SetText(QStringLiteral("SELECT COUNT(*) AS n FROM g"));
    sums.Open();
    grid->SetDataSet(&sums);
    grid->setCurrentIndex(grid->Model().index(0, 0));
    EXPECT_FALSE(grid->SetCurrentCellNull());
    EXPECT_EQ(grid->Model().CellText(0, 0), QStringLiteral("3"));
    grid->SetDataSet(&q);

    // Escape outside an editor gives an edited row back its values.
    q.First();
    q.Edit();
    q.FieldByName(QStringLiteral("name")).SetAsString(QStringLiteral("esc"));
    QTest::keyClick(grid, Qt::Key_Escape);
    EXPECT_EQ(q.State(), dsBrowse);
    EXPECT_EQ(grid->Model().CellText(0, 1), TDataSetModel::NullText);
}

TEST_F(GridTest, ChangesAreRefusedWhileTheOwnerSaysNo) {
    bool allow = false;
    TDBGrid grid;
    grid.SetDataSet(&q);
    grid.Model().OnAllowChange = [&] { return allow; };
    TDBNavigator nav;
    nav.SetConfirmDelete(false);
    nav.SetDataSet(&q);
    nav.OnAllowChange = [&] { return allow; };
    QSignalSpy errors(&grid, &TDBGrid::errorOccurred);
    const QString before = Server();

    EXPECT_FALSE(grid.Model().setData(grid.Model().index(0, 1), QStringLiteral("no")));
    EXPECT_FALSE(grid.SetCurrentCellNull());
    EXPECT_EQ(q.State(), dsBrowse);
    nav.BtnClick(nbDelete);
    nav.BtnClick(nbLast);
    EXPECT_EQ(q.RecNo(), 1);
    // A row being edited is not left (leaving would post it).
    q.Edit();
    q.FieldByName(QStringLiteral("name")).SetAsString(QStringLiteral("held"));
    grid.setCurrentIndex(grid.Model().index(2, 1));
    EXPECT_EQ(q.RecNo(), 1);
    EXPECT_EQ(q.State(), dsEdit);
    nav.BtnClick(nbPost);
    EXPECT_EQ(q.State(), dsEdit);
    EXPECT_EQ(Server(), before);
    EXPECT_EQ(errors.count(), 0);  // refused quietly

    allow = true;
    nav.BtnClick(nbPost);
    EXPECT_EQ(Server(), QStringLiteral("1,held,1.50|2,,NULL|3,NULL,-2.00"));
}

TEST_F(GridTest, GridAndDataSetFollowEachOther) {
    TDBGrid grid;
    grid.SetDataSet(&q);
    EXPECT_EQ(grid.currentIndex().row(), 0);
    q.Last();
    EXPECT_EQ(grid.currentIndex().row(), 2);
    grid.setCurrentIndex(grid.Model().index(1, 1));
    EXPECT_EQ(q.RecNo(), 2);

    // An insert shows as a row of its own where it goes; cancelled, it goes again.
    q.Insert();
    EXPECT_EQ(grid.Model().rowCount(), 4);
    EXPECT_EQ(grid.currentIndex().row(), 1);
    EXPECT_EQ(grid.Model().headerData(1, Qt::Vertical).toString(), QStringLiteral("*"));
    q.Cancel();
    EXPECT_EQ(grid.Model().rowCount(), 3);

    // Leaving an edited row posts it.
    q.Edit();
    q.FieldByName(QStringLiteral("name")).SetAsString(QStringLiteral("b"));
    grid.setCurrentIndex(grid.Model().index(0, 1));
    EXPECT_EQ(q.State(), dsBrowse);
    EXPECT_EQ(q.RecNo(), 1);
    EXPECT_EQ(Server(), QStringLiteral("1,one,1.50|2,b,NULL|3,NULL,-2.00"));
}

TEST_F(GridTest, NavigatorButtonsFollowTheState) {
    TDBNavigator nav;
    nav.SetConfirmDelete(false);
    QSignalSpy errors(&nav, &TDBNavigator::errorOccurred);
    auto enabled = [&] {
        QString flags;
        for (int b = nbFirst; b <= nbRefresh; ++b) flags += nav.Button(TNavigateBtn(b))->isEnabled() ? u'1' : u'0';
        return flags;
    };
    EXPECT_EQ(enabled(), QStringLiteral("0000000000"));  // no data set
    nav.SetDataSet(&q);
    //                                   FPNLIDEPCR
    EXPECT_EQ(enabled(), QStringLiteral("0011111001"));  // on the first row
    nav.BtnClick(nbLast);
    EXPECT_EQ(enabled(), QStringLiteral("1100111001"));
    nav.BtnClick(nbEdit);
    EXPECT_EQ(enabled(), QStringLiteral("0000000110"));
    q.FieldByName(QStringLiteral("amount")).SetAsString(QStringLiteral("7"));
    nav.BtnClick(nbPost);
    EXPECT_EQ(Server(), QStringLiteral("1,one,1.50|2,,NULL|3,NULL,7.00"));
    nav.BtnClick(nbInsert);
    EXPECT_EQ(enabled(), QStringLiteral("0000000110"));
    q.FieldByName(QStringLiteral("id")).SetAsInteger(1);  // a duplicate key
    nav.BtnClick(nbPost);
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(errors[0][0].toString().contains(u"Duplicate entry"));
    EXPECT_EQ(q.State(), dsInsert);
    nav.BtnClick(nbCancel);
    nav.BtnClick(nbFirst);
    nav.BtnClick(nbDelete);
    EXPECT_EQ(Server(), QStringLiteral("2,,NULL|3,NULL,7.00"));
    // The accessible names are the captions.
    EXPECT_EQ(nav.Button(nbRefresh)->text(), QStringLiteral("Refresh"));

    // A result that cannot be written: only moving and refreshing.
    TMyQuery sums;
    sums.SetConnection(c.get());
    sums.SQL().SetText(QStringLiteral("SELECT COUNT(*) FROM g UNION ALL SELECT 5"));
    sums.Open();
    nav.SetDataSet(&sums);
    EXPECT_EQ(enabled(), QStringLiteral("0011000001"));
    sums.Close();
    EXPECT_EQ(enabled(), QStringLiteral("0000000000"));
}

TEST_F(GridTest, AWindowShowsEveryRowAndTheEdit) {
    // Also renders the window for a look when CALVORO_SCREENSHOT_DIR names a folder.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* nav = new TDBNavigator(&window);
    auto* grid = new TDBGrid(&window);
    layout->addWidget(nav);
    layout->addWidget(grid);
    nav->SetDataSet(&q);
    grid->SetDataSet(&q);
    q.SetRecNo(2);
    q.Edit();
    q.FieldByName(QStringLiteral("name")).SetAsString(QStringLiteral("edit"));
    window.resize(640, 240);
    window.show();
    const QImage image = window.grab().toImage();
    EXPECT_EQ(image.size(), QSize(640, 240));
    // All three rows fit, the second is current and marked as edited.
    EXPECT_EQ(grid->rowAt(grid->rowViewportPosition(2) + 1), 2);
    EXPECT_GT(grid->rowViewportPosition(2) + grid->rowHeight(2), 0);
    EXPECT_LE(grid->rowViewportPosition(2) + grid->rowHeight(2), grid->viewport()->height());
    EXPECT_EQ(grid->currentIndex().row(), 1);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("✎"));
    EXPECT_TRUE(nav->Button(nbPost)->isEnabled());
    const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(image.save(dir + QStringLiteral("/grid.png")));
    }
    q.Cancel();
}

}  // namespace
