#include "append/session_settings.h"

#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {
namespace {

std::string ServerEncoding(const Connection& connection) {
    const char* encoding = PQparameterStatus(connection.Handle(), "server_encoding");
    return encoding ? encoding : "";
}

std::string ClientEncoding(bool raw_bytes) {
    return raw_bytes ? "SET client_encoding = 'SQL_ASCII'; " : "SET client_encoding = 'UTF8'; ";
}

// Runs the SET statements together with lc_monetary = 'C', which money's text form follows and
// whose form is the same everywhere; a server that does not know the C locale by that name keeps
// its own, and both sides then have to agree by themselves.
void Pin(Connection& connection, const std::string& settings) {
    try {
        connection.Execute(settings + "SET lc_monetary = 'C'");
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        connection.Execute(settings);
    }
}

}  // namespace

std::string TextOutputSettingsForTransaction() {
    std::string sql = "SELECT set_config('lc_monetary', 'C', true)";
    for (const auto& [name, value] : kTextOutputSettings)
        sql += std::string(", set_config('") + name + "', " + QuoteLiteral(value) + ", true)";
    return sql;
}

bool HoldsRawBytes(const Connection& connection) {
    return ServerEncoding(connection) == "SQL_ASCII";
}

void PinSourceSettings(Connection& source, bool raw_bytes) {
    std::string settings;
    for (const auto& [name, value] : kTextOutputSettings)
        settings += std::string("SET ") + name + " = " + QuoteLiteral(value) + "; ";
    Pin(source, settings +
                    "SET standard_conforming_strings = on; SET synchronize_seqscans = off; " +
                    ClientEncoding(raw_bytes));
}

DestinationSession PinDestinationSettings(Connection& destination, const std::string& table,
                                          bool raw_bytes) {
    DestinationSession session{QuoteIdentifier(table), false, {}};
    std::string& quoted_name = session.quoted_name;
    const std::string encoding = ServerEncoding(destination);
    if (raw_bytes) session.copy_options = " (ENCODING " + QuoteLiteral(encoding) + ")";
    if (raw_bytes && encoding != "UTF8" && encoding != "SQL_ASCII") {
        // The server's messages then come in that encoding too.
        session.messages_in_server_encoding = true;
        // Unconverted, the session reads the name in the database's own encoding: the server
        // converts it once, while the session still speaks UTF-8.
        RecordSet name = destination.Execute("SELECT convert_to(" + QuoteLiteral(quoted_name) +
                                             ", current_setting('server_encoding'))");
        quoted_name = UnescapeBytea(name.Value(0).value_or(""));
    }
    // Literals are quoted by doubling apostrophes alone; arrays read "NULL" as a null element;
    // XML values may be fragments, as the source's output may hold them.
    Pin(destination,
        "SET standard_conforming_strings = on; SET array_nulls = on; SET xmloption = content; " +
            ClientEncoding(raw_bytes));
    return session;
}

}  // namespace trp
