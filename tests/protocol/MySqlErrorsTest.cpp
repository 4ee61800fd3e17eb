// Error texts: the client table, printf-style filling, and how messages are composed.
#include "protocol/MySqlErrors.h"

#include <gtest/gtest.h>

#include <vector>

using namespace calvoro::protocol;

TEST(MySqlErrors, ClientTextsByCode) {
    struct Case {
        int code;
        std::string text;
    } cases[] = {
        {2000, "Unknown MySQL error"},
        {2003, "Can't connect to MySQL server on '%s' (%d)"},
        {2013, "Lost connection to MySQL server during query"},
        {2014, "Commands out of sync;  You can't run this command now"},
        {2027, "Malformed packet"},
        {2047, "Invalid connection handle"},
        {1999, ""},
        {2048, ""},
        {1045, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ClientErrorText(c.code), c.text) << c.code;
}

TEST(MySqlErrors, FormatText) {
    struct Case {
        std::string format;
        std::vector<TFormatArg> args;
        std::string expected;
    } cases[] = {
        {"Can't connect to MySQL server on '%s' (%d)", {"db.example", 10061},
         "Can't connect to MySQL server on 'db.example' (10061)"},
        {"return %d($%X)", {111, 111}, "return 111($6F)"},
        {"return %d($%X)", {-2, -2}, "return -2($FFFFFFFE)"},
        {"Host '%-.64s'", {std::string(70, 'h')}, "Host '" + std::string(64, 'h') + "'"},
        {"100%% of %d", {5}, "100% of 5"},
        // Placeholders without arguments stay as they are.
        {"Can't connect to MySQL server on '%s' (%d)", {}, "Can't connect to MySQL server on '%s' (%d)"},
        {"%d and %d", {1}, "1 and %d"},
        {"trailing %", {1}, "trailing %"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
}

TEST(MySqlErrors, MessageComposition) {
    struct Case {
        EMySqlException error;
        int code;
        std::string message;
    } cases[] = {
        {EMySqlException(2013), 2013, "Lost connection to MySQL server during query"},
        // The unformatted text when no values are passed.
        {EMySqlException(2003), 2003, "Can't connect to MySQL server on '%s' (%d)"},
        {EMySqlException(2013, "Socket error on read. WSAGetLastError return 104($68)"), 2013,
         "Lost connection to MySQL server during query\r\nSocket error on read. WSAGetLastError return 104($68)"},
        {EMySqlException(2007, "", {9, 10}), 2007, "Protocol mismatch. Server Version = 9 Client Version = 10"},
        {EMySqlException(2003, "Connection timed out", {"h", 10061}), 2003,
         "Can't connect to MySQL server on 'h' (10061)\r\nConnection timed out"},
        // Server errors have no client text: CR LF and the server's text.
        {EMySqlException(1045, "#28000Access denied"), 1045, "\r\n#28000Access denied"},
        {EMySqlException(1157), 1157, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.ErrorCode(), c.code);
        EXPECT_EQ(c.error.Message(), c.message);
    }
}
