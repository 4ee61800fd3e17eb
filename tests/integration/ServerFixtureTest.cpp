// The test server is up and has the accounts the protocol tests rely on. Checked through the
// mariadb command-line client, independent of our own protocol code.
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

using calvoro::test::Server;

namespace {

// Runs the mariadb client over TCP as `user` and returns its output and exit status.
std::pair<std::string, int> Query(const std::string& user, const std::string& password,
                                  const std::string& sql) {
    const auto& s = Server();
    std::string cmd = "mariadb --no-defaults --batch --skip-column-names --protocol=TCP -h " +
                      s.Host + " -P " + std::to_string(s.Port) + " -u " + user;
    if (!password.empty()) cmd += " '-p" + password + "'";
    cmd += " -e \"" + sql + "\" 2>&1";
    std::string out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return {"popen failed", -1};
    std::array<char, 512> buf;
    while (size_t n = fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
    return {out, pclose(pipe)};
}

}  // namespace

TEST(ServerFixture, AccountsLogInWithTheirScrambles) {
    const auto& s = Server();
    struct Case {
        std::string user, password, plugin;
    } cases[] = {
        {s.NativeUser, s.NativePassword, "mysql_native_password"},
        {s.OldUser, s.OldPassword, "mysql_old_password"},
        {s.EmptyUser, "", "mysql_native_password"},
    };
    for (const auto& c : cases) {
        auto [out, rc] = Query(c.user, c.password,
                               "SELECT plugin FROM mysql.user WHERE user = SUBSTRING_INDEX(CURRENT_USER(), '@', 1)");
        EXPECT_EQ(rc, 0) << out;
        EXPECT_EQ(out, c.plugin + "\n") << c.user;
    }
}

TEST(ServerFixture, WrongPasswordIsRefused) {
    const auto& s = Server();
    auto [out, rc] = Query(s.NativeUser, "not-the-password", "SELECT 1");
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("ERROR 1045"), std::string::npos) << out;
}

TEST(ServerFixture, SettingsForTheProtocolTests) {
    const auto& s = Server();
    auto [out, rc] = Query(s.NativeUser, s.NativePassword,
                           "SELECT @@max_allowed_packet >= 64*1024*1024, @@secure_auth, "
                           "(SELECT COUNT(*) FROM mysql.user WHERE user = '')");
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "1\t0\t0\n");
}
