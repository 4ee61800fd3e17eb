// lexer_bench FILE [ansi|utf8|utf16]: lexes FILE from a stream with the MySQL lexer, switched
// as the script processor switches it (every character returned in some lexeme), and prints
// bytes=<n> lexemes=<k> seconds=<s>. The encoding defaults to the 8-bit code page, as for a
// script file without a byte-order mark.

#include "sqltext/MyParser.h"

#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstring>

using namespace calvoro::sqltext;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: lexer_bench FILE [ansi|utf8|utf16]\n");
        return 2;
    }
    TTextEncoding encoding = teAnsi;
    if (argc == 3) {
        if (!std::strcmp(argv[2], "utf8")) encoding = teUTF8;
        else if (!std::strcmp(argv[2], "utf16")) encoding = teUTF16LE;
        else if (std::strcmp(argv[2], "ansi")) {
            std::fprintf(stderr, "unknown encoding %s\n", argv[2]);
            return 2;
        }
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], qPrintable(file.errorString()));
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    TMyParser lexer(&file, encoding);
    lexer.FOmitBlank = false;
    lexer.FUppered = false;
    lexer.FQuotedString = true;
    lexer.FAdvancedStringParsing = true;
    QString lexem;
    qint64 lexemes = 0;
    try {
        while (lexer.GetNext(lexem) != lexEnd) ++lexemes;
    } catch (const calvoro::Exception& e) {
        std::fprintf(stderr, "at character %lld: %s\n", (long long)lexer.CurrPos(), e.what());
        return 1;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("bytes=%lld lexemes=%lld seconds=%.3f\n", (long long)file.size(), (long long)lexemes,
                seconds.count());
    return 0;
}
