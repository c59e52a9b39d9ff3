#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/profile.h"
#include "db/table_name.h"

namespace trp {

class OperationHost;

// The two operations of a list that the table listing uses.
class ListTarget {
public:
    virtual ~ListTarget() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const ListedTable& table) = 0;
};

// The catalogue query: the tables pg_tables shows (partitions and system catalogues
// included), each with the text the lists show, its schema and its name. A table whose bare
// name reaches it through the login's default search path (that of the role and the database,
// whatever a pooled session may have set) keeps its bare name; any other is qualified with its
// schema, each part quoted only where SQL needs it.
inline constexpr std::string_view kTableCatalogueQuery =
    "SET LOCAL search_path TO DEFAULT; "
    "SELECT CASE WHEN pg_table_is_visible(c.oid) THEN c.relname::text "
    "ELSE quote_ident(n.nspname) || '.' || quote_ident(c.relname) END, n.nspname, c.relname "
    "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE c.relkind IN ('r', 'p')";

// Whether a list shows `one` before `other`: alphabetical regardless of letter case (so
// "Orders" sits beside "orders_2020"), names that differ only in case upper case first; the
// same whatever the user's locale.
bool ListedBefore(const std::string& one, const std::string& other);

// A list of tables kept in memory in the lists' order (ListedBefore), tables that read alike
// in the catalogue's order: what the command line prints and finds the tables it is given in.
class TableList : public ListTarget {
public:
    void Clear() override { tables_.clear(); }
    void AddItem(const ListedTable& table) override;

    const std::vector<ListedTable>& Tables() const { return tables_; }
    // Every table the list shows as `text` (a public table named "sales.orders" and table
    // orders of schema sales, when that schema is not on the search path, read alike).
    std::vector<ListedTable> Named(const std::string& text) const;

private:
    std::vector<ListedTable> tables_;
};

// Replaces the list's items with the tables of the profile's database, one item per row of
// the catalogue (system tables included, a name in two schemas once bare and once qualified,
// in the server's order).
// Runs under its own error trap with `location` as the report's location text; every failure is
// reported through the host and the listing goes on with its next step, so it always returns.
// Pending events are processed once per row; once the host asks to stop, no further row is read.
void ListTables(const Profile& profile, ListTarget& list, OperationHost& host,
                const std::string& location);

// The twins that fill a list of the table selection screen with the tables of database #1 or
// #2, from the profile as it stands at the moment of the call, each under its own location text.
void AddTablesToPostgreSQLListbox(ListTarget& list, const ProfileSource& profiles,
                                  OperationHost& host);
void AddTablesToPostgreSQLListbox2(ListTarget& list, const ProfileSource& profiles,
                                   OperationHost& host);

}  // namespace trp
