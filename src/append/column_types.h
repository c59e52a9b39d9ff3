#pragma once

#include <libpq-fe.h>

#include <string>
#include <vector>

namespace trp {

class Connection;

// One column of a table as `SELECT *` shows it.
struct ColumnType {
    std::string name;
    Oid type = 0;
    int modifier = -1;  // atttypmod: length, precision, …
    // A built-in scalar type whose binary form means the same in every database: not an array,
    // composite, enum, domain, range or extension type (those carry type identifiers or differ
    // between databases), not an object identifier type (reg…), and with binary input and
    // output.
    bool portable_binary = false;
    // One of the built-in types whose text output reads back as the very same value whatever
    // either session's settings are (given the settings a run pins): a value moved inside the
    // server as it is stored ends exactly as its text would. No domain, no geometric type (their
    // input refuses what their output may show), no type whose text follows a setting (money,
    // xml).
    bool exact_in_server = false;
};
using ColumnTypes = std::vector<ColumnType>;

// The query for the columns of a table (its quoted name as the connection reads it), in order.
std::string ColumnTypesQuery(const Connection& connection, const std::string& quoted_table);
ColumnTypes ReadColumnTypes(const PGresult* result);

// The columns in the order of `names` (a permutation of their names).
ColumnTypes InOrderOf(const ColumnTypes& columns, const std::vector<std::string>& names);

// Whether rows can go from the source to the destination in COPY's binary format: the same
// built-in scalar type with the same modifiers in every column.
bool BinaryCompatible(const ColumnTypes& source, const ColumnTypes& destination);
// Whether every column has the same type with the same modifiers on both sides.
bool SameTypes(const ColumnTypes& source, const ColumnTypes& destination);

// The 19 bytes that open COPY's binary format: signature, flags, no header extension.
inline constexpr char kBinaryCopyHeader[] = "PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0";
inline constexpr std::size_t kBinaryCopyHeaderSize = 19;

}  // namespace trp
