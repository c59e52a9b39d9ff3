#pragma once

#include <string>
#include <string_view>

#include "db/profile.h"

namespace trp {

class OperationHost;

// The two operations of a list that the table listing uses.
class ListTarget {
public:
    virtual ~ListTarget() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const std::string& text) = 0;
};

// The catalogue query, sent exactly as it stands.
inline constexpr std::string_view kTableCatalogueQuery = "select tablename from pg_tables;";

// Replaces the list's items with the table names of the profile's database, one item per row of
// the catalogue (system tables included, a name in two schemas twice, in the server's order).
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
