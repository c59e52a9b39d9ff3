#include "append/column_types.h"

#include <algorithm>
#include <cstdlib>

#include "db/connection.h"

namespace trp {

std::string ColumnTypesQuery(const std::string& quoted_table) {
    return "SELECT a.atttypid, a.atttypmod, t.typtype = 'b' AND t.typcategory <> 'A' "
           "AND t.oid < 10000 AND t.typreceive::oid <> 0 AND t.typsend::oid <> 0 "
           "AND t.typname !~ '^reg' "
           "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid WHERE a.attrelid = " +
           QuoteLiteral(quoted_table) +
           "::regclass AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";
}

ColumnTypes ReadColumnTypes(const PGresult* result) {
    ColumnTypes columns;
    for (int row = 0; row < PQntuples(result); ++row) {
        columns.push_back(ColumnType{
            static_cast<Oid>(std::strtoul(PQgetvalue(result, row, 0), nullptr, 10)),
            std::atoi(PQgetvalue(result, row, 1)), PQgetvalue(result, row, 2)[0] == 't'});
    }
    return columns;
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
