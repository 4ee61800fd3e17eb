#pragma once
// The command line the benchmarks share:
//   --host H --port P --user U --password W --query SQL [--prepared] [--unicode] [--peer]
//   [--setup ROWS]

#include <stdexcept>
#include <string>

struct TBenchOptions {
    std::string Host = "127.0.0.1";
    unsigned Port = 3306;
    std::string User, Password;
    std::string Query;
    bool Prepared = false;
    bool Peer = false;
    bool Unicode = false;  // text as utf8mb4; otherwise latin1 on the wire
    long SetupRows = 0;    // --setup: create the benchmark table with this many rows
};

// Raises std::invalid_argument for an unknown option or a missing value.
inline TBenchOptions ParseBenchOptions(int argc, char** argv) {
    TBenchOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--host") o.Host = value();
        else if (a == "--port") o.Port = unsigned(std::stoul(value()));
        else if (a == "--user") o.User = value();
        else if (a == "--password") o.Password = value();
        else if (a == "--query") o.Query = value();
        else if (a == "--setup") o.SetupRows = std::stol(value());
        else if (a == "--prepared") o.Prepared = true;
        else if (a == "--unicode") o.Unicode = true;
        else if (a == "--peer") o.Peer = true;
        else throw std::invalid_argument("unknown option " + a);
    }
    return o;
}
