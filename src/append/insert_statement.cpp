#include "append/insert_statement.h"

#include "db/connection.h"

namespace trp {

std::string BuildInsertStatement(std::string_view quoted_table, const RowValues& values) {
    std::string sql = "INSERT INTO ";
    sql += quoted_table;
    if (values.empty()) return sql + " DEFAULT VALUES";
    sql += " VALUES(";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += values[i] ? QuoteLiteral(*values[i]) : std::string("NULL");
    }
    return sql + ")";
}

}  // namespace trp
