#pragma once

#include <string>

#include "db/profile.h"
#include "db/table_name.h"

namespace trp {

class Connection;
class SocketWaiter;

// Whether the profile's login can read the table: the connection opens, a table of exactly that
// name is visible and the login may select from it. Silent; every failure answers false.
// No row is transferred, however large the table.
// With a waiter, the waits go through it, and a wait it abandons (WaitAbandoned) passes.
bool CheckTablePermission(const Profile& profile, const TableName& table,
                          SocketWaiter* waiter = nullptr);

// The twins for database #1 and database #2, as the append operation names them.
inline bool CheckPostgreSQLTablePermission(const Profile& profile1, const TableName& table,
                                           SocketWaiter* waiter = nullptr) {
    return CheckTablePermission(profile1, table, waiter);
}
inline bool CheckPostgreSQLTablePermission2(const Profile& profile2, const TableName& table,
                                            SocketWaiter* waiter = nullptr) {
    return CheckTablePermission(profile2, table, waiter);
}

// `SELECT * FROM "<schema>"."<table>" LIMIT 0`: the table's shape without any of its rows, the
// name quoted for the connection that runs it.
std::string ZeroRowSelect(const Connection& connection, const TableName& table);

}  // namespace trp
