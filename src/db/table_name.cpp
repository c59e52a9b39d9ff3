#include "db/table_name.h"

#include "db/connection.h"

namespace trp {

std::string QualifiedName(const Connection& connection, const TableName& table) {
    const std::string name = connection.QuoteIdentifier(table.name);
    return table.schema.empty() ? name : connection.QuoteIdentifier(table.schema) + "." + name;
}

}  // namespace trp
