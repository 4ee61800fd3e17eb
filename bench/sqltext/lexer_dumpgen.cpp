// lexer_dumpgen FILE MEGABYTES: writes a dump-like SQL file for lexer_bench: a dump header of
// comments and conditional comments, then tables filled by multi-row INSERT statements of
// about 64 KB each, with numbers, NULLs, dates, hexadecimal values and strings holding
// escapes, quotes and UTF-8 text. The content is the same for the same size.

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "O\\'Brien", "caf\xc3\xa9",
                              "\xe2\x82\xac" "5", "line\\nbreak", "tab\\there", "back\\\\slash",
                              "\"quoted\"", "semi;colon", "--not a comment", "Stra\xc3\x9f" "e"};

void Header(std::string& out) {
    out += "-- MariaDB dump 10.19  Distrib 10.11.6-MariaDB, for debian-linux-gnu (x86_64)\n--\n"
           "-- Host: localhost    Database: bench\n"
           "-- ------------------------------------------------------\n\n"
           "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;\n"
           "/*!40101 SET NAMES utf8mb4 */;\n"
           "/*!40014 SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS, UNIQUE_CHECKS=0 */;\n\n";
}

void Table(std::string& out, int n) {
    out += "--\n-- Table structure for table `orders_" + std::to_string(n) + "`\n--\n\n"
           "DROP TABLE IF EXISTS `orders_" + std::to_string(n) + "`;\n"
           "CREATE TABLE `orders_" + std::to_string(n) + "` (\n"
           "  `id` int(11) NOT NULL AUTO_INCREMENT,\n  `customer` varchar(80) DEFAULT NULL,\n"
           "  `note` text,\n  `amount` decimal(12,2) NOT NULL,\n  `shipped` datetime DEFAULT NULL,\n"
           "  `flags` varbinary(8) DEFAULT NULL,\n  PRIMARY KEY (`id`)\n"
           ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;\n\n"
           "LOCK TABLES `orders_" + std::to_string(n) + "` WRITE;\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lexer_dumpgen FILE MEGABYTES\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const long long target = std::atoll(argv[2]) * 1024 * 1024;
    std::mt19937 random(20240501);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    std::string out;
    Header(out);
    long long written = 0, id = 0;
    for (int table = 1; written + (long long)out.size() < target; ++table) {
        Table(out, table);
        for (int statement = 0; statement < 160 && written + (long long)out.size() < target; ++statement) {
            out += "INSERT INTO `orders_" + std::to_string(table) + "` VALUES ";
            for (size_t start = out.size(); out.size() - start < 65536;) {
                if (out.back() == ')') out += ',';
                out += '(' + std::to_string(++id) + ",'";
                out += kWords[pick(14)];
                out += ' ' + std::to_string(pick(100000)) + "',";
                if (pick(4) == 0) {
                    out += "NULL";
                } else {
                    out += '\'';
                    for (int w = pick(12); w >= 0; --w) (out += kWords[pick(14)]) += ' ';
                    out += '\'';
                }
                out += ',' + std::to_string(pick(1000000)) + '.' + std::to_string(10 + pick(90)) + ",";
                out += pick(3) ? "'2023-0" + std::to_string(1 + pick(9)) + "-1" + std::to_string(pick(10)) +
                                     " 12:" + std::to_string(10 + pick(50)) + ":00'"
                               : std::string("NULL");
                out += pick(2) ? ",0x" + std::to_string(100000 + pick(900000)) + ")" : std::string(",NULL)");
            }
            out += ";\n";
            if (out.size() > (1 << 20)) {
                written += (long long)std::fwrite(out.data(), 1, out.size(), f);
                out.clear();
            }
        }
        out += "UNLOCK TABLES;\n\n";
    }
    out += "/*!40101 SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT */;\n\n-- Dump completed\n";
    written += (long long)std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
    std::printf("%s: %lld bytes\n", argv[1], written);
    return 0;
}
