#pragma once
// What SHOW GRANTS says about one account, read back into grants: the server's own statements
// are the exact account of every level (global with MySQL's dynamic privileges, database,
// table, column, routine), of granted roles and of MySQL's partial revokes, in both server
// families and for one's own account without access to the mysql schema.
//
// Lines look like
//   GRANT SELECT, INSERT (`a`, `b`) ON `db`.`t` TO `u`@`%` WITH GRANT OPTION
//   GRANT EXECUTE ON PROCEDURE `db`.`p` TO 'u'@'%'
//   GRANT `r1` TO `u`@`%`                          (MariaDB; MySQL writes `r1`@`%`)
//   REVOKE INSERT ON `mysql`.* FROM `u`@`%`        (MySQL with partial_revokes)
//   SET DEFAULT ROLE `r1` FOR `u`@`%`              (MariaDB)
// Names are backquoted identifiers or single-quoted strings; a line of any other shape is kept
// as text.

#include "MyAdminStatements.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace calvoro::dac {

enum TGrantLineKind {
    lkOther,        // a line of another shape (PROXY, packages): Text only
    lkPrivileges,   // GRANT privileges ON target TO grantee
    lkRevoke,       // REVOKE privileges ON target FROM grantee
    lkRoles,        // GRANT role, … TO grantee
    lkDefaultRole,  // SET DEFAULT ROLE role FOR grantee
};

struct TGrantLine {
    TGrantLineKind Kind = lkOther;
    TGrant Grant{};                     // lkPrivileges, lkRevoke
    std::vector<TAccountName> Roles{};  // lkRoles; lkDefaultRole: the one role
    bool AdminOption = false;         // lkRoles: WITH ADMIN OPTION
    TAccountName Grantee{};
    QString Text{};  // the line as the server wrote it
};

// One line; never raises: what it cannot read is lkOther.
TGrantLine ParseGrantLine(const QString& line);

// The grantee column of information_schema's privilege tables: 'user'@'host' as the server
// writes it there, quotes inside not doubled (the last "'@'" separates the host). False for
// any other shape.
bool ParseGrantee(const QString& text, TAccountName& account);

}  // namespace calvoro::dac
