#pragma once
// Result columns as the client API describes them, for tests and fuzz targets that build a
// record set's fields without a server.

#include "protocol/MySqlApiDirect.h"

#include <string>

namespace calvoro::test {

inline protocol::TMYSQL_FIELD MyColumn(protocol::TMySqlFieldType type, uint32_t length, uint32_t flags = 0,
                                       int32_t charset = 45, uint32_t decimals = 0, std::string name = "c",
                                       std::string table = "t") {
    protocol::TMYSQL_FIELD f;
    f.Name = f.OrgName = std::move(name);
    f.Table = f.OrgTable = std::move(table);
    f._type = type;
    f.LengthInBytes = length;
    f.Flags = flags;
    f.CharsetNr = charset;
    f.Decimals = decimals;
    return f;
}

}  // namespace calvoro::test
