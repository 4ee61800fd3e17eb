// script_bench FILE: cuts FILE into statements with the script processor, as a script run
// would, without a server (each statement is handed to BeforeExecute and then omitted), and
// prints bytes=<n> statements=<k> seconds=<s> peak_rss_kb=<m>. Make a dump-like file with
// lexer_dumpgen.

#include "script/MyScript.h"

#include <QFile>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

using namespace calvoro;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: script_bench FILE\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "script_bench: cannot open %s\n", argv[1]);
        return 1;
    }
    try {
        dac::TMyConnection connection;  // never connected: nothing is sent
        script::TMyScript script;
        script.SetConnection(&connection);
        script.SetNoPreconnect(true);
        long long statements = 0, characters = 0;
        script.BeforeExecute = [&](script::TDAScript*, QString& sql, bool& omit) {
            ++statements;
            characters += sql.size();
            omit = true;
        };
        const auto start = std::chrono::steady_clock::now();
        script.ExecuteStream(&file);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("bytes=%lld statements=%lld seconds=%.3f peak_rss_kb=%ld\n", static_cast<long long>(file.size()),
                    statements, seconds, usage.ru_maxrss);
        std::fprintf(stderr, "characters in statements=%lld\n", characters);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "script_bench: %s\n", e.what());
        return 1;
    }
}
