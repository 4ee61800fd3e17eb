// recordset_bench --host H --port P --user U --password W --query SQL [--prepared] [--unicode] [--peer]
//
// Opens the query with every row read into memory and prints "rows=<n> seconds=<s>
// peak_rss_kb=<k>": through our record set (TMySQLRecordset with FetchAll, as every data set of
// the program opens its query; with --prepared a server-side prepared statement) or, with
// --peer, through libmariadb (mysql_store_result; with --prepared mysql_stmt_store_result).
// The time runs from sending the query until all rows are in memory; afterwards every value
// held is read once for a checksum. --unicode exchanges text as utf8mb4 (our record set then
// keeps it as UTF-16, as the program does); otherwise both use latin1.
// run_recordset_bench.sh alternates the two clients.

#include "RecordsetBench.h"

#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyRecordset.h"
#include "support/BenchMeasure.h"
#include "support/OurConnection.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

using namespace calvoro;
using namespace calvoro::dac;

namespace {

uint64_t Checksum(TMySQLRecordset& rs) {
    uint64_t sum = 0;
    const TRecBufOwner bufOwner = rs.AllocRecBuf();
    TRecBuf buf = bufOwner.get();
    rs.SetToBegin();
    for (rs.GetNextRecord(buf); !rs.Eof(); rs.GetNextRecord(buf)) {
        for (int i = 1; i <= rs.FieldCount(); ++i) {
            const TFieldDesc& f = rs.Field(i);
            if (rs.GetNull(i, buf)) continue;
            switch (f.FDataType) {
                case dtString: case dtExtString: case dtFMTBCD:
                    for (const char c : rs.GetFieldBytes(f, buf)) sum += uint8_t(c);
                    break;
                case dtWideString: case dtExtWideString:
                    for (const QChar c : rs.GetFieldWide(f, buf)) sum += c.unicode();
                    break;
                case dtBlob: case dtMemo: case dtWideMemo:
                    sum += uint64_t(rs.GetBlob(f, buf)->Size());
                    break;
                case dtFloat: case dtDate: case dtTime: case dtDateTime:
                    sum += uint64_t(int64_t(rs.GetFieldFloat(f, buf) * 1000));
                    break;
                default:
                    sum += uint64_t(rs.GetFieldInt(f, buf));
            }
        }
    }
    return sum;
}

}  // namespace

TBenchResult RunOurs(const TBenchOptions& o) {
    TMyConnection c;
    ConnectOurs(o, c);

    TBenchResult r;
    TMySQLRecordset rs;
    rs.SetConnection(c.GetIConnection());
    rs.SetSQL(QString::fromStdString(o.Query));
    rs.FFetchAll = true;
    const auto start = Clock::now();
    if (o.Prepared) rs.Prepare();
    rs.Open();
    r.Seconds = Since(start);
    r.Rows = uint64_t(rs.RecordCount());
    r.Checksum = Checksum(rs);
    return r;
}

int main(int argc, char** argv) {
    try {
        const TBenchOptions o = ParseBenchOptions(argc, argv);
        if (o.User.empty() || o.Query.empty()) {
            std::fprintf(stderr, "usage: recordset_bench --host H --port P --user U --password W --query SQL "
                                 "[--prepared] [--unicode] [--peer]\n");
            return 2;
        }
        const TBenchResult r = o.Peer ? RunPeer(o) : RunOurs(o);
        std::printf("rows=%llu seconds=%.3f peak_rss_kb=%ld\n", static_cast<unsigned long long>(r.Rows), r.Seconds,
                    PeakRssKb());
        std::fprintf(stderr, "checksum=%llu\n", static_cast<unsigned long long>(r.Checksum));
        return 0;
    } catch (const calvoro::Exception& e) {
        std::fprintf(stderr, "recordset_bench: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "recordset_bench: %s\n", e.what());
        return 1;
    }
}
