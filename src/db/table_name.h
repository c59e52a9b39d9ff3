#pragma once

#include <string>

namespace trp {

class Connection;

// A table as the catalogue knows it: its schema and its own name. An empty schema stands for
// the name as the session's search path finds it.
struct TableName {
    std::string schema;
    std::string name;
    bool operator==(const TableName&) const = default;
};

// A table as a list shows it: the text the user picks, and the table it stands for. Later
// steps reach the table by its identity, never by parsing the text again: a public table named
// "sales.orders" and table orders of schema sales read alike and stay apart.
struct ListedTable {
    std::string text;
    TableName table;

    ListedTable() = default;
    ListedTable(std::string shown, TableName identity)
        : text(std::move(shown)), table(std::move(identity)) {}
    // A bare name, as the search path finds it.
    ListedTable(const std::string& bare_name) : text(bare_name), table{{}, bare_name} {}
    ListedTable(const char* bare_name) : ListedTable(std::string(bare_name)) {}
    bool operator==(const ListedTable&) const = default;
};

// The table's name for SQL on the connection: schema and name each quoted by libpq.
std::string QualifiedName(const Connection& connection, const TableName& table);

}  // namespace trp
