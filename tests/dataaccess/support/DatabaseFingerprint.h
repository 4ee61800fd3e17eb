#pragma once
// What a database holds, as text to compare after a restore.

#include "dataaccess/mysql/MyAccess.h"

#include <QString>

namespace calvoro::test {

// The checksum of every base table, its column definitions, and the text of every view,
// routine and trigger (a hash of each), one line each in name order. References to the
// database itself ("`db`.") are left out of the texts, so that two databases of different
// names compare equal.
QString Fingerprint(dac::TCustomMyConnection& c, const QString& db);

}  // namespace calvoro::test
