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

RowValues InsertStatementValues(std::string_view statement, std::string_view quoted_table) {
    std::string_view rest =
        statement.substr(std::string_view("INSERT INTO ").size() + quoted_table.size());
    RowValues values;
    if (rest == " DEFAULT VALUES") return values;
    rest.remove_prefix(std::string_view(" VALUES(").size());
    for (;;) {
        if (rest.starts_with("NULL")) {
            values.emplace_back();
            rest.remove_prefix(4);
        } else {
            // A quoted literal: its end is the first apostrophe that is not doubled.
            std::size_t end = 1;
            std::size_t doubled = 0;
            for (;; end += 2, ++doubled) {
                end = rest.find('\'', end);
                if (end + 1 >= rest.size() || rest[end + 1] != '\'') break;
            }
            std::string value;
            value.reserve(end - 1 - doubled);
            for (std::size_t at = 1; at < end; ++at) {
                value += rest[at];
                if (rest[at] == '\'') ++at;
            }
            values.emplace_back(std::move(value));
            rest.remove_prefix(end + 1);
        }
        if (!rest.starts_with(", ")) return values;
        rest.remove_prefix(2);
    }
}

}  // namespace trp
