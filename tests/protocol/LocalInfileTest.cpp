// Local-file requests: which files a statement names, and a hostile server that asks for a
// file the statement does not name — played by a scripted server, since MariaDB only asks
// for the file of a LOAD DATA LOCAL INFILE statement.
#include "protocol/LocalInfile.h"
#include "protocol/MySqlApiDirect.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

using namespace calvoro::protocol;
using namespace calvoro::test;

using TNames = std::vector<std::string>;

TEST(LocalInfile, NamesInStatements) {
    struct Case {
        std::string sql;
        TNames names;
    } cases[] = {
        {"LOAD DATA LOCAL INFILE 'a.csv' INTO TABLE t", {"a.csv"}},
        {"load  data /* why */ local\n\tinfile \"/tmp/b c.csv\" into table t", {"/tmp/b c.csv"}},
        {"LOAD DATA LOW_PRIORITY LOCAL INFILE 'l' INTO TABLE t", {"l"}},
        {"LOAD DATA CONCURRENT LOCAL INFILE 'c' INTO TABLE t", {"c"}},
        {"LOAD XML LOCAL INFILE 'x.xml' INTO TABLE t", {"x.xml"}},
        {"load data local InFiLe 'mixed' into table t", {"mixed"}},
        {"LOAD DATA LOCAL INFIL 'short' INTO TABLE t", {}},
        {"LOAD DATA INFILE 'server-side.csv' INTO TABLE t", {}},
        {"LOAD DATA LOCAL INFILE `x` INTO TABLE t", {}},
        {"  -- comment\nLOAD DATA LOCAL INFILE 'after-comment' INTO TABLE t", {"after-comment"}},
        // Escapes: both readings, for servers with and without NO_BACKSLASH_ESCAPES.
        {R"(LOAD DATA LOCAL INFILE 'C:\\data\\f.csv' INTO TABLE t)", {R"(C:\data\f.csv)", R"(C:\\data\\f.csv)"}},
        {R"(LOAD DATA LOCAL INFILE 'it''s\'.csv' INTO TABLE t)", {"it's'.csv", R"(it's\'.csv)"}},
        {"LOAD DATA LOCAL INFILE 'n\\n\\t' INTO TABLE t", {"n\n\t", "n\\n\\t"}},
        {"SELECT 1; LOAD DATA LOCAL INFILE 'x' INTO TABLE t;LOAD DATA LOCAL INFILE 'y' INTO TABLE u", {"x", "y"}},
        // Only at the start of a statement, never inside text or comments.
        {"SELECT 'LOAD DATA LOCAL INFILE ''z'''", {}},
        {"SELECT ';LOAD DATA LOCAL INFILE ''q'''", {}},
        {"SELECT 1 -- ; LOAD DATA LOCAL INFILE 'z'", {}},
        {"SELECT 1 # ; LOAD DATA LOCAL INFILE 'z'", {}},
        {"SELECT 1 /* ; LOAD DATA LOCAL INFILE 'z' */", {}},
        {"/*!LOAD DATA LOCAL INFILE 'z'*/", {}},
        {"SELECT `a;b`; LOAD DATA LOCAL INFILE 'after-quoted' INTO TABLE t", {"after-quoted"}},
        {"CALL p('LOAD DATA LOCAL INFILE x')", {}},
        {"LOAD DATA LOCAL INFILE 'unterminated", {"unterminated"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(LocalInfileNames(c.sql), c.names);
    }
}

// The server asks for a file the statement does not name: the client answers with the
// empty packet only, reads the server's answer, reports the refusal naming the file, and
// stays in step for the next command.
TEST(LocalInfile, HostileRequestIsRefused) {
    struct Case {
        const char* name;
        std::string sql;
        Bytes answer;  // the server's answer to the empty packet
    } cases[] = {
        {"a SELECT", "SELECT 1", OkPacket()},
        {"LOAD DATA naming another file", "LOAD DATA LOCAL INFILE 'mine.csv' INTO TABLE t", OkPacket()},
        {"the server's error after the empty packet", "SELECT 1", ErrorPacket(1290, "HY000", "no data")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes upload;
        uint8_t uploadSeq = 0;
        bool extraData = true;
        TScriptedServer server([&](TScriptedPeer& p) {
            p.SendPacket(0, Greeting());
            p.ReadPacket();
            p.SendPacket(2, OkPacket());
            EXPECT_EQ(p.ReadPacket(), Cat({{3}, B(c.sql)}));
            p.SendPacket(1, Cat({{0xFB}, B("/etc/passwd")}));
            upload = p.ReadPacket(&uploadSeq);
            p.SendPacket(3, c.answer);
            const Bytes next = p.ReadPacket();  // in step: the next command, not file data
            extraData = next != Bytes{14};
            p.SendPacket(1, OkPacket());
            p.ReadPacket();  // quit
        });
        TMySQLAPIDirect api;
        PMYSQL_CON con = api.mysql_init(nullptr);
        ASSERT_EQ(api.mysql_real_connect(con, "127.0.0.1", "u", "pw", "", unsigned(server.Port()), "", 0), con);
        EXPECT_EQ(api.mysql_real_query(con, c.sql.data(), c.sql.size()), 2068);
        EXPECT_EQ(api.mysql_errno(con), 2068u);
        EXPECT_EQ(api.mysql_error(con), "\r\nThe server asked for the local file '/etc/passwd', which the statement sent "
                                        "does not name; the file was not sent.");
        EXPECT_EQ(api.mysql_ping(con), 0);
        api.mysql_close(con);
        EXPECT_EQ(server.Join(), "");
        EXPECT_TRUE(upload.empty()) << "no file data";
        EXPECT_EQ(uploadSeq, 2);
        EXPECT_FALSE(extraData);
    }
}
