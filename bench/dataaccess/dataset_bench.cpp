// dataset_bench --host H --port P --user U --password W --query SQL [--unicode]
//
// Opens the query in a TMyQuery (every row read, as the program's grids do), walks every row
// reading every field's AsString, and reads every cell once through the grid model's display
// text. Prints "rows=<n> open_seconds=<s> walk_seconds=<s> model_seconds=<s> peak_rss_kb=<k>".
// --unicode exchanges text as utf8mb4, otherwise latin1 (as recordset_bench).
// run_dataset_bench.sh runs it beside the bare record set and libmariadb.

#include "common/Exceptions.h"
#include "dataaccess/gui/DataSetModel.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/BenchMeasure.h"
#include "support/BenchOptions.h"
#include "support/OurConnection.h"

#include <chrono>
#include <cstdio>

using namespace calvoro;
using namespace calvoro::dac;

int main(int argc, char** argv) {
    try {
        const TBenchOptions o = ParseBenchOptions(argc, argv);
        if (o.User.empty() || o.Query.empty() || o.Peer || o.Prepared) {
            std::fprintf(stderr, "usage: dataset_bench --host H --port P --user U --password W --query SQL [--unicode]\n");
            return 2;
        }
        TMyConnection c;
        ConnectOurs(o, c);

        TMyQuery q;
        q.SetConnection(&c);
        q.SQL().SetText(QString::fromStdString(o.Query));
        auto start = Clock::now();
        q.Open();
        const double open = Since(start);

        // Sums of the text lengths keep the work from being optimised away.
        uint64_t walked = 0;
        start = Clock::now();
        for (q.First(); !q.Eof(); q.Next())
            for (const auto& field : q.Fields()) walked += uint64_t(field->AsString().size());
        const double walk = Since(start);

        TDataSetModel model;
        model.SetDataSet(&q);
        uint64_t shown = 0;
        const int rows = model.rowCount(), columns = model.columnCount();
        start = Clock::now();
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column)
                shown += uint64_t(model.data(model.index(row, column), Qt::DisplayRole).toString().size());
        const double cells = Since(start);

        std::printf("rows=%d open_seconds=%.3f walk_seconds=%.3f model_seconds=%.3f peak_rss_kb=%ld\n", q.RecordCount(),
                    open, walk, cells, PeakRssKb());
        std::fprintf(stderr, "checksum=%llu/%llu\n", static_cast<unsigned long long>(walked),
                     static_cast<unsigned long long>(shown));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dataset_bench: %s\n", e.what());
        return 1;
    }
}
