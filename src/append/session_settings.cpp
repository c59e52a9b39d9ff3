#include "append/session_settings.h"

#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

std::string ServerEncoding(const Connection& connection) {
    const char* encoding = PQparameterStatus(connection.Handle(), "server_encoding");
    return encoding ? encoding : "";
}

Setting ClientEncoding(bool raw_bytes) {
    return {"client_encoding", raw_bytes ? "SQL_ASCII" : "UTF8"};
}

// The server's keepalives on our connection: a session whose client vanished while it sat idle
// in its transaction ends within about half a minute, and with it its snapshot and locks.
const Settings kServerKeepalives = {
    {"tcp_keepalives_idle", "10"}, {"tcp_keepalives_interval", "5"}, {"tcp_keepalives_count", "3"}};

}  // namespace

bool HoldsRawBytes(const Connection& connection) {
    return ServerEncoding(connection) == "SQL_ASCII";
}

std::string SetLocally(const Settings& settings) {
    std::string sql;
    for (const auto& [name, value] : settings) {
        if (!sql.empty()) sql += ", ";
        // Names and values are the program's own: plain ASCII without backslashes.
        sql += "set_config(" + QuoteLiteral(name) + ", " + QuoteLiteral(value) + ", true)";
    }
    return sql;
}

Settings SourceSettings(bool raw_bytes) {
    Settings settings{{"DateStyle", "ISO, MDY"},
                      {"IntervalStyle", "postgres"},
                      {"TimeZone", "UTC"},
                      {"extra_float_digits", "3"},
                      {"bytea_output", "hex"},
                      {"lc_monetary", "C"},
                      {"standard_conforming_strings", "on"},
                      {"synchronize_seqscans", "off"},
                      {"idle_in_transaction_session_timeout", "0"},
                      ClientEncoding(raw_bytes)};
    settings.insert(settings.end(), kServerKeepalives.begin(), kServerKeepalives.end());
    return settings;
}

Settings LoneRowSettings(bool raw_bytes, int command_timeout) {
    return {{"standard_conforming_strings", "on"},
            {"array_nulls", "on"},
            {"xmloption", "content"},
            {"lc_monetary", "C"},
            ClientEncoding(raw_bytes),
            {"statement_timeout", std::to_string(command_timeout * 1000LL)}};
}

Settings DestinationSettings(bool raw_bytes, int command_timeout, bool check_interval,
                             bool user_timeout) {
    Settings settings = LoneRowSettings(raw_bytes, command_timeout);
    settings.insert(settings.end(), kServerKeepalives.begin(), kServerKeepalives.end());
    if (check_interval) settings.push_back({"client_connection_check_interval", "10000"});
    // Keepalives go out only while nothing is in flight; results the server cannot get rid of
    // (the link is gone) would otherwise keep its session, and its locks, for a quarter of an
    // hour of retransmissions. The program itself reads its destination's results as they come.
    if (user_timeout) settings.push_back({"tcp_user_timeout", "30000"});
    return settings;
}

DestinationSession DescribeDestination(Connection& destination, const std::string& quoted_name,
                                       bool raw_bytes) {
    DestinationSession session{quoted_name, quoted_name, false, {}};
    const std::string encoding = ServerEncoding(destination);
    if (raw_bytes) session.copy_options = " (ENCODING " + QuoteLiteral(encoding) + ")";
    if (raw_bytes && encoding != "UTF8" && encoding != "SQL_ASCII") {
        // The server's messages then come in that encoding too.
        session.messages_in_server_encoding = true;
        // Unconverted, the transaction reads the name in the database's own encoding: the
        // server converts it once, while the session still speaks UTF-8.
        RecordSet name =
            destination.Execute("SELECT convert_to(" + destination.QuoteLiteral(quoted_name) +
                                ", current_setting('server_encoding'))");
        session.quoted_name_in_transaction = UnescapeBytea(name.Value(0).value_or(""));
    }
    return session;
}

}  // namespace trp
