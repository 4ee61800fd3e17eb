// The grid model, grid and navigator over a query of the test server: what cells show, edits
// that post (or stay open when the server refuses them), the current row kept in step both
// ways, and navigator buttons enabled by the data set's state.

#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/MyTestConnection.h"

#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
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
        {"1", "one", "1.50", "0x00FF", "(BLOB 3 bytes)", "n1"},
        {"2", "", "(NULL)", "(NULL)", "(NULL)", "(NULL)"},
        {"3", "(NULL)", "-2.00", "0x", "(BLOB 0 bytes)", ""},
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
    EXPECT_EQ(model.CellText(0, 1), QStringLiteral("toolong"));
    EXPECT_EQ(model.headerData(0, Qt::Vertical).toString(), QStringLiteral("✎"));
    EXPECT_EQ(Server(), QStringLiteral("1,one,NULL|2,two,NULL|3,,-2.00"));
    // Moving away tries the post again and stays when it fails.
    EXPECT_FALSE(model.MoveTo(2));
    EXPECT_EQ(q.RecNo(), 1);
    q.Cancel();
    EXPECT_EQ(model.CellText(0, 1), QStringLiteral("one"));
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
