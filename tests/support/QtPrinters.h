#pragma once
// Readable gtest output for Qt strings (found by argument-dependent lookup).

#include <QByteArray>
#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '"';
    for (char c : b) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\') {
            *os << c;
        } else {
            static const char hex[] = "0123456789abcdef";
            *os << "\\x" << hex[u >> 4] << hex[u & 15];
        }
    }
    *os << '"';
}
