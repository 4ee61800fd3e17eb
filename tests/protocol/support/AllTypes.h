#pragma once
// A table with a column of every MariaDB type, for the text and binary result tests. Row 1
// holds a value in every column, row 2 NULL in every column (the first column included).
// Each column lists what the server must send: its type code, the text form, and the
// binary form of a prepared statement's row (empty: the same bytes as the text form, after
// a length prefix).

#include "ApiConnection.h"

#include <string>
#include <vector>

namespace calvoro::test {

struct TTypedColumn {
    std::string Name;
    std::string SqlType;
    std::string Literal;  // the value of row 1, as SQL
    uint8_t TypeCode;
    std::string Text;     // the value's text form
    Bytes Binary;         // fixed-width and temporal binary forms
    int32_t Flags = 0;    // flags that must be set
};

const std::vector<TTypedColumn>& AllTypeColumns();

// Creates and fills table all_types (row 1 values, row 2 NULLs) in the current database.
void CreateAllTypesTable(TApiConnection& c);

// "SELECT <every column> FROM all_types ORDER BY id"
std::string SelectAllTypes();

}  // namespace calvoro::test
