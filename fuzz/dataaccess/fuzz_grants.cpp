// SHOW GRANTS lines on arbitrary text (UTF-8 input): reading never raises and keeps the line;
// a grant read from it, written again as a statement, reads back to the same grant and grantee.
#include "FuzzCheck.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAdminGrants.h"

#include <QString>

#include <cstddef>
#include <cstdint>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const TGrantLine line = ParseGrantLine(text);
    Check(line.Text == text);
    TAccountName grantee;
    (void)ParseGrantee(text, grantee);

    if (line.Kind == lkPrivileges || line.Kind == lkRevoke) {
        Check(!line.Grant.Privileges.empty() || line.Grant.GrantOption);
        for (const TPrivilege& p : line.Grant.Privileges) Check(!p.Name.isEmpty());
        for (const bool backslashes : {true, false}) {
            const TAdminDialect dialect{{sfMariaDB, 10, 11, 0}, backslashes};
            QString statement;
            try {
                statement = line.Kind == lkPrivileges ? GrantStatement(line.Grant, line.Grantee, dialect)
                                                      : RevokeStatement(line.Grant, line.Grantee, dialect);
            } catch (const EDatabaseError&) {
                continue;  // names the generators refuse (digits in a privilege, no user) are not written
            }
            // Strings without backslash escapes double their quotes only; this reader takes a
            // backslash as an escape, as the server writes SHOW GRANTS.
            if (!backslashes && (line.Grantee.User.contains(u'\\') || line.Grantee.Host.contains(u'\\'))) continue;
            const TGrantLine again = ParseGrantLine(statement);
            Check(again.Kind == line.Kind);
            Check(again.Grant == line.Grant);
            Check(again.Grantee == line.Grantee);
        }
    }
    return 0;
}
