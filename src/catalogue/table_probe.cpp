#include "catalogue/table_probe.h"

#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {

std::string ZeroRowSelect(const Connection& connection, const TableName& table) {
    return "SELECT * FROM " + QualifiedName(connection, table) + " LIMIT 0";
}

bool CheckTablePermission(const Profile& profile, const TableName& table, SocketWaiter* waiter) {
    try {
        Connection connection;
        connection.Open(BuildConnectionString(profile), waiter);
        connection.Execute(ZeroRowSelect(connection, table));
        return true;
    } catch (const WaitAbandoned&) {
        throw;
    } catch (...) {
        return false;
    }
}

}  // namespace trp
