#include "append/insert_statement.h"

#include "connection/connection.h"

namespace trp {

std::string BuildInsertStatement(const std::string& table, const RowValues& values) {
    std::string sql = "INSERT INTO " + QuoteIdentifier(table) + " VALUES(";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += values[i] ? QuoteLiteral(*values[i]) : std::string("NULL");
    }
    return sql + ")";
}

}  // namespace trp
