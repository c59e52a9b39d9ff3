#include "append/column_types.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "db/connection.h"

namespace trp {

std::string ColumnTypesQuery(const Connection& connection, const std::string& quoted_table) {
    return "SELECT a.attname, a.atttypid, a.atttypmod, t.typtype = 'b' AND t.typcategory <> 'A' "
           "AND t.oid < 10000 AND t.typreceive::oid <> 0 AND t.typsend::oid <> 0 "
           "AND t.typname !~ '^reg', "
           // bool, bytea, int8, int2, int4, text, json, cidr, float4, float8, macaddr8, macaddr,
           // inet, bpchar, varchar, date, time, timestamp, timestamptz, interval, timetz, bit,
           // varbit, numeric, uuid, jsonb
           "t.oid IN (16, 17, 20, 21, 23, 25, 114, 650, 700, 701, 774, 829, 869, 1042, 1043, "
           "1082, 1083, 1114, 1184, 1186, 1266, 1560, 1562, 1700, 2950, 3802) "
           "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid WHERE a.attrelid = " +
           connection.QuoteLiteral(quoted_table) +
           "::regclass AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";
}

ColumnTypes ReadColumnTypes(const PGresult* result) {
    ColumnTypes columns;
    for (int row = 0; row < PQntuples(result); ++row) {
        columns.push_back(
            ColumnType{PQgetvalue(result, row, 0),
                       static_cast<Oid>(std::strtoul(PQgetvalue(result, row, 1), nullptr, 10)),
                       std::atoi(PQgetvalue(result, row, 2)), PQgetvalue(result, row, 3)[0] == 't',
                       PQgetvalue(result, row, 4)[0] == 't'});
    }
    return columns;
}

ColumnTypes InOrderOf(const ColumnTypes& columns, const std::vector<std::string>& names) {
    ColumnTypes ordered;
    for (const std::string& name : names) {
        const auto column = std::find_if(columns.begin(), columns.end(),
                                         [&](const ColumnType& c) { return c.name == name; });
        if (column == columns.end()) throw std::runtime_error("no column named " + name);
        ordered.push_back(*column);
    }
    return ordered;
}

bool SameTypes(const ColumnTypes& source, const ColumnTypes& destination) {
    if (source.size() != destination.size()) return false;
    for (std::size_t i = 0; i < source.size(); ++i)
        if (source[i].type != destination[i].type || source[i].modifier != destination[i].modifier)
            return false;
    return true;
}

bool BinaryCompatible(const ColumnTypes& source, const ColumnTypes& destination) {
    return SameTypes(source, destination) &&
           std::all_of(source.begin(), source.end(),
                       [](const ColumnType& column) { return column.portable_binary; });
}

}  // namespace trp
