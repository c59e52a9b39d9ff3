#include "append/insert_statement.h"

#include <algorithm>

#include "db/connection.h"

namespace trp {

std::string BuildInsertStatement(std::string_view quoted_table, const RowValues& values) {
    std::string sql = "INSERT INTO ";
    sql += quoted_table;
    if (values.empty()) return sql + " DEFAULT VALUES";
    // Written in place, in a text of the right size: a value may be large.
    std::size_t size = sql.size() + 9;
    for (const auto& value : values)
        size += value ? value->size() + std::count(value->begin(), value->end(), '\'') + 4 : 6;
    sql.reserve(size);
    sql += " VALUES(";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) sql += ", ";
        if (!values[i]) {
            sql += "NULL";
            continue;
        }
        AppendLiteral(sql, *values[i]);
    }
    sql += ')';
    return sql;
}

}  // namespace trp
