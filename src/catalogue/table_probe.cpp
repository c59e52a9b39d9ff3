#include "catalogue/table_probe.h"

#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {

std::string ZeroRowSelect(const Connection& connection, const std::string& table) {
    return "SELECT * FROM " + connection.QuoteIdentifier(table) + " LIMIT 0";
}

bool CheckTablePermission(const Profile& profile, const std::string& table) {
    try {
        Connection connection;
        connection.Open(BuildConnectionString(profile));
        connection.Execute(ZeroRowSelect(connection, table));
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace trp
