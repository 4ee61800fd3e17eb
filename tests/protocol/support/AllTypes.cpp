#include "AllTypes.h"

#include "protocol/MySqlRowFormat.h"

namespace calvoro::test {

using namespace protocol;

const std::vector<TTypedColumn>& AllTypeColumns() {
    static const std::vector<TTypedColumn> columns = {
        {"c_tinyint", "TINYINT", "-128", FIELD_TYPE_TINY, "-128", Hex("80"), NUM_FLAG},
        {"c_utinyint", "TINYINT UNSIGNED", "255", FIELD_TYPE_TINY, "255", Hex("ff"), UNSIGNED_FLAG | NUM_FLAG},
        {"c_smallint", "SMALLINT", "-32768", FIELD_TYPE_SHORT, "-32768", Hex("00 80"), NUM_FLAG},
        {"c_mediumint", "MEDIUMINT", "-8388608", FIELD_TYPE_INT24, "-8388608", Hex("00 00 80 ff"), NUM_FLAG},
        {"c_int", "INT", "-2147483648", FIELD_TYPE_LONG, "-2147483648", Hex("00 00 00 80"), NUM_FLAG},
        {"c_uint", "INT UNSIGNED", "4294967295", FIELD_TYPE_LONG, "4294967295", Hex("ff ff ff ff"), UNSIGNED_FLAG},
        {"c_bigint", "BIGINT", "-9223372036854775808", FIELD_TYPE_LONGLONG, "-9223372036854775808",
         Hex("00 00 00 00 00 00 00 80"), NUM_FLAG},
        {"c_ubigint", "BIGINT UNSIGNED", "18446744073709551615", FIELD_TYPE_LONGLONG, "18446744073709551615",
         Hex("ff ff ff ff ff ff ff ff"), UNSIGNED_FLAG | NUM_FLAG},
        {"c_decimal", "DECIMAL(20,6)", "-12345678901234.567891", FIELD_TYPE_NEWDECIMAL, "-12345678901234.567891", {}},
        {"c_float", "FLOAT", "1.5", FIELD_TYPE_FLOAT, "1.5", Hex("00 00 c0 3f"), NUM_FLAG},
        {"c_double", "DOUBLE", "-2.25", FIELD_TYPE_DOUBLE, "-2.25", Hex("00 00 00 00 00 00 02 c0"), NUM_FLAG},
        {"c_bit", "BIT(12)", "b'101010101010'", FIELD_TYPE_BIT, "\x0a\xaa", {}, UNSIGNED_FLAG},
        {"c_year", "YEAR", "2024", FIELD_TYPE_YEAR, "2024", Hex("e8 07"), NUM_FLAG},
        {"c_date", "DATE", "'2024-02-29'", FIELD_TYPE_DATE, "2024-02-29", Hex("04 e8 07 02 1d")},
        // A negative TIME of more than a day: sign 1, days 1, 10:56:07, 890123 microseconds.
        {"c_time", "TIME(6)", "'-34:56:07.890123'", FIELD_TYPE_TIME, "-34:56:07.890123",
         Hex("0c 01 01 00 00 00 0a 38 07 0b 95 0d 00")},
        {"c_datetime", "DATETIME(6)", "'2024-02-29 23:59:59.999999'", FIELD_TYPE_DATETIME, "2024-02-29 23:59:59.999999",
         Hex("0b e8 07 02 1d 17 3b 3b 3f 42 0f 00")},
        {"c_timestamp", "TIMESTAMP(6) NULL", "'2024-03-01 00:00:00.000001'", FIELD_TYPE_TIMESTAMP,
         "2024-03-01 00:00:00.000001", Hex("0b e8 07 03 01 00 00 00 01 00 00 00")},
        {"c_char", "CHAR(5)", "'abc'", FIELD_TYPE_STRING, "abc", {}},
        {"c_varchar", "VARCHAR(300)", "CONCAT('Gr\xFC\xDF', REPEAT('v', 260))", FIELD_TYPE_VAR_STRING,
         "Gr\xFC\xDF" + std::string(260, 'v'), {}},
        {"c_binary", "BINARY(4)", "'ab'", FIELD_TYPE_STRING, std::string("ab\0\0", 4), {}, BINARY_FLAG},
        {"c_varbinary", "VARBINARY(10)", "x'00ff01'", FIELD_TYPE_VAR_STRING, std::string("\x00\xff\x01", 3), {},
         BINARY_FLAG},
        {"c_tinytext", "TINYTEXT", "'tiny'", FIELD_TYPE_BLOB, "tiny", {}, BLOB_FLAG},
        {"c_text", "TEXT", "'text'", FIELD_TYPE_BLOB, "text", {}, BLOB_FLAG},
        {"c_mediumtext", "MEDIUMTEXT", "'medium'", FIELD_TYPE_BLOB, "medium", {}, BLOB_FLAG},
        {"c_longtext", "LONGTEXT", "'long'", FIELD_TYPE_BLOB, "long", {}, BLOB_FLAG},
        {"c_tinyblob", "TINYBLOB", "x'01'", FIELD_TYPE_BLOB, "\x01", {}, BLOB_FLAG | BINARY_FLAG},
        {"c_blob", "BLOB", "x'0203'", FIELD_TYPE_BLOB, "\x02\x03", {}, BLOB_FLAG | BINARY_FLAG},
        {"c_mediumblob", "MEDIUMBLOB", "x'040506'", FIELD_TYPE_BLOB, "\x04\x05\x06", {}, BLOB_FLAG | BINARY_FLAG},
        {"c_longblob", "LONGBLOB", "REPEAT(x'07', 70000)", FIELD_TYPE_BLOB, std::string(70000, '\x07'), {},
         BLOB_FLAG | BINARY_FLAG},
        {"c_enum", "ENUM('a','b')", "'b'", FIELD_TYPE_STRING, "b", {}, ENUM_FLAG},
        {"c_set", "SET('x','y')", "'x,y'", FIELD_TYPE_STRING, "x,y", {}, SET_FLAG},
        {"c_json", "JSON", "'{\"k\": [1, 2]}'", FIELD_TYPE_BLOB, "{\"k\": [1, 2]}", {}, BLOB_FLAG},
        // SRID 0, then the WKB of POINT(1 2).
        {"c_geometry", "GEOMETRY", "ST_GeomFromText('POINT(1 2)')", FIELD_TYPE_GEOMETRY,
         std::string("\0\0\0\0\x01\x01\0\0\0\0\0\0\0\0\0\xf0\x3f\0\0\0\0\0\0\0\x40", 25), {}, BLOB_FLAG | BINARY_FLAG},
        {"c_inet6", "INET6", "'2001:db8::1'", FIELD_TYPE_STRING, "2001:db8::1", {}},
        {"c_uuid", "UUID", "'123e4567-e89b-12d3-a456-426614174000'", FIELD_TYPE_STRING,
         "123e4567-e89b-12d3-a456-426614174000", {}},
    };
    return columns;
}

void CreateAllTypesTable(TApiConnection& c) {
    std::string create = "CREATE OR REPLACE TABLE all_types (id INT PRIMARY KEY";
    std::string names = "id", values = "1";
    for (const auto& col : AllTypeColumns()) {
        create += ", " + col.Name + " " + col.SqlType;
        names += ", " + col.Name;
        values += ", " + col.Literal;
    }
    c.Exec(create + ")");
    c.Exec("INSERT INTO all_types (" + names + ") VALUES (" + values + ")");
    c.Exec("INSERT INTO all_types (id) VALUES (2)");
}

std::string SelectAllTypes() {
    std::string sql = "SELECT ";
    for (const auto& col : AllTypeColumns()) sql += col.Name + ", ";
    return sql + "id FROM all_types ORDER BY id";
}

}  // namespace calvoro::test
