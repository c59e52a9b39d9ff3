#include "db/server_version.h"

#include <stdexcept>

namespace trp {

std::string ServerVersion::Name() const {
    const int major = number_ / 10000;
    if (major >= 10) return std::to_string(major);
    return std::to_string(number_ / 10000) + "." + std::to_string(number_ / 100 % 100);
}

std::optional<std::string> ServerVersion::TooOldToAppend() const {
    if (number_ >= kOldestAppendable) return std::nullopt;
    return "PostgreSQL " + Name() + " is older than 10, the oldest version this program " +
           "appends with.";
}

std::string ServerVersion::CurrentTransactionId() const {
    // 13 renamed the functions of the 64-bit ids and gave them a type of their own.
    const char* assign = number_ >= 130000 ? "pg_current_xact_id()" : "txid_current()";
    return std::string(
               "CASE WHEN current_setting('transaction_read_only')::bool THEN NULL "
               "ELSE ") +
           assign + " END";
}

std::string ServerVersion::TransactionStatus(const std::string& id) const {
    // Ids come from the server's own answers; anything else is not quoted, but refused.
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument("not a transaction id: " + id);
    if (number_ >= 130000) return "pg_xact_status('" + id + "'::xid8)";
    return "txid_status('" + id + "'::bigint)";
}

}  // namespace trp
