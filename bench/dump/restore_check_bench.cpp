// restore_check_bench FILE: the look at a script before a restore, over FILE from a stream,
// against the facts of a MariaDB 10.11 server (no server needed). Prints
// bytes=<n> statements=<k> items=<i> seconds=<s> mb_per_second=<r> peak_rss_kb=<m>; the scan
// keeps its memory flat, so the peak stays near that of an empty file whatever the size.

#include "dump/RestoreCheck.h"

#include <QFile>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

using namespace calvoro::dump;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: restore_check_bench FILE\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], qPrintable(file.errorString()));
        return 1;
    }
    TServerFacts facts;
    facts.MariaDB = true;
    facts.Version = 101106;
    for (const char* c : {"utf8mb4_general_ci", "utf8mb4_unicode_ci", "utf8mb4_uca1400_ai_ci", "latin1_swedish_ci"})
        facts.Collations.insert(QString::fromLatin1(c));
    for (const char* c : {"utf8mb4", "utf8mb3", "latin1", "binary"}) facts.Charsets.insert(QString::fromLatin1(c));
    for (const char* e : {"innodb", "myisam", "aria", "memory"}) facts.Engines.insert(QString::fromLatin1(e));
    facts.AccountsKnown = true;
    facts.MaySetDefiner = facts.MaySetGlobal = true;

    const auto start = std::chrono::steady_clock::now();
    const TCheckReport report = CheckScript(&file, facts);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("bytes=%lld statements=%lld items=%zu seconds=%.3f mb_per_second=%.1f peak_rss_kb=%ld\n",
                (long long)file.size(), (long long)report.Statements, report.Items.size(), seconds.count(),
                file.size() / 1e6 / seconds.count(), usage.ru_maxrss);
    return 0;
}
