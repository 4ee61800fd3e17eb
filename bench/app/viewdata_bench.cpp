// viewdata_bench --host H --port P --user U --password W --query DB.TABLE
//
// The main window as the program makes it (offscreen unless QT_QPA_PLATFORM says otherwise),
// connected to DB, its View Data tab at 950 x 755 with "Fetch rows" 0: selects TABLE in the
// selector and prints "rows=<n> first_rows_seconds=<s> select_seconds=<s> paint_seconds=<s>
// end_ms=<ms> peak_rss_kb=<k>". first_rows runs from the choice until the grid has painted
// its first rows (select: the handler, which reads every row and counts the table's; paint:
// the grid's first paint). end_ms is Ctrl+End in the grid (the data set on the last row, the
// view scrolled there) and the paint that follows.
// run_viewdata_bench.sh runs it beside recordset_bench.

#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SplashScrUnit.h"
#include "app/TessrinUnit.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/BenchMeasure.h"
#include "support/BenchOptions.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QKeyEvent>

#include <chrono>
#include <cstdio>

using namespace calvoro;
using namespace calvoro::app;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    try {
        const TBenchOptions o = ParseBenchOptions(argc, argv);
        const QString target = QString::fromStdString(o.Query);
        const qsizetype dot = target.indexOf(u'.');
        if (o.User.empty() || dot <= 0 || o.Peer || o.Prepared) {
            std::fprintf(stderr, "usage: viewdata_bench --host H --port P --user U --password W --query DB.TABLE\n");
            return 2;
        }
        const QString database = target.left(dot), table = target.mid(dot + 1);
        CalvoroApplication app(argc, argv);
        ShowSplashAtStart() = false;  // the measured work runs without the start-up picture
        auto program = CreateProgram();
        TTessrinForm& form = *program->MainForm;
        dac::TMyConnection& c = *program->Data->ToolsConnection;
        c.SetServer(QString::fromStdString(o.Host));
        c.SetPort(int(o.Port));
        c.SetUsername(QString::fromStdString(o.User));
        c.SetPassword(QString::fromStdString(o.Password));
        c.SetLoginPrompt(false);
        c.SSLOptions().Mode = protocol::smDisabled;  // as the peer connects
        c.SetDatabase(database);
        form.show();
        form.showNormal();
        form.resize(950, 755);
        form.btnConnectToServerClick();
        if (!program->Data->ToolsConnected()) throw std::runtime_error("not connected");
        form.TntPageControl1->setCurrentWidget(form.TntTabSheet4);
        form.spEdtRecordLimit->setValue(0);
        const int index = form.cbxTablesViews->findText(table);
        if (index < 0) throw std::runtime_error("no such table: " + table.toStdString());
        form.cbxTablesViews->setCurrentIndex(index);
        QCoreApplication::processEvents();
        dac::TDBGrid& grid = *form.TntDBGrid1;
        grid.viewport()->repaint();

        const auto start = Clock::now();
        emit form.cbxTablesViews->activated(index);
        const double select = Since(start);
        const auto paintStart = Clock::now();
        grid.viewport()->repaint();
        const double paint = Since(paintStart);
        const double firstRows = Since(start);
        const int rows = grid.Model().rowCount();
        if (rows == 0 || grid.Model().CellText(0, 0).isEmpty()) throw std::runtime_error("no rows shown");

        grid.setFocus();
        const auto endStart = Clock::now();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QCoreApplication::sendEvent(&grid, &key);
        grid.viewport()->repaint();
        const double end = Since(endStart);
        if (program->Data->ToolsQuery->RecNo() != rows) throw std::runtime_error("Ctrl+End did not reach the last row");

        std::printf("rows=%d first_rows_seconds=%.3f select_seconds=%.3f paint_seconds=%.3f end_ms=%.1f "
                    "peak_rss_kb=%ld\n",
                    rows, firstRows, select, paint, end * 1000, PeakRssKb());
        std::fprintf(stderr, "%s | %s\n", form.lblRecordsFetched->text().toStdString().c_str(),
                     form.Label2->text().toStdString().c_str());
        // The session goes first, as in the program.
        program->Data.reset();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "viewdata_bench: %s\n", e.what());
        return 1;
    }
}
