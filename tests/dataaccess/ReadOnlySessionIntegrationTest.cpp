// A read-only session against the test server: every login of the connection, the first and
// the ones after it, leaves the server refusing changes, while queries go on working.
#include "dataaccess/mysql/MyAccess.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;

namespace {

// The server's "Cannot execute statement in a READ ONLY transaction".
constexpr int ErReadOnlyTransaction = 1792;

}  // namespace

TEST(ReadOnlySession, ServerRefusesChangesSentAnyway) {
    auto admin = NewConnection();
    admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_readonly"));
    admin->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE calvoro_readonly.t (a INT)"));
    admin->ExecSQL(QStringLiteral("INSERT INTO calvoro_readonly.t VALUES (1)"));

    auto c = NewConnection(true, QStringLiteral("calvoro_readonly"));
    c->MyOptions().SetReadOnly(true);
    for (int login = 0; login < 2; ++login) {
        SCOPED_TRACE(login);
        c->Connect();
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM t")), QStringLiteral("1"));
        for (const char* sql : {"INSERT INTO t VALUES (2)", "UPDATE t SET a = 3", "DELETE FROM t"}) {
            SCOPED_TRACE(sql);
            EXPECT_EQ(test::Raised<EMyError>([&] { c->ExecSQL(QString::fromUtf8(sql)); }).ErrorCode(),
                      ErReadOnlyTransaction);
        }
        c->Disconnect();
    }
    EXPECT_EQ(FirstValue(*admin, QStringLiteral("SELECT GROUP_CONCAT(a) FROM calvoro_readonly.t")),
              QStringLiteral("1"));

    // The option goes with the connection's settings: off again, the next login may write.
    c->MyOptions().SetReadOnly(false);
    c->ExecSQL(QStringLiteral("INSERT INTO t VALUES (2)"));
    EXPECT_EQ(FirstValue(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_readonly.t")), QStringLiteral("2"));
    admin->ExecSQL(QStringLiteral("DROP DATABASE calvoro_readonly"));
}
