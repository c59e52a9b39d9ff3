#include "append/session_settings.h"

#include "db/connection.h"

namespace trp {
namespace {

std::string ServerEncoding(const Connection& connection) {
    const char* encoding = PQparameterStatus(connection.Handle(), "server_encoding");
    return encoding ? encoding : "";
}

std::string ClientEncoding(bool raw_bytes) {
    return raw_bytes ? "SET client_encoding = 'SQL_ASCII'; " : "SET client_encoding = 'UTF8'; ";
}

// money's text form follows lc_monetary; the C locale's is the same everywhere.
void PinMonetary(Connection& connection) {
    try {
        connection.Execute("SET lc_monetary = 'C'");
    } catch (...) {
        // A server without it keeps its own; both sides then need to agree by themselves.
    }
}

}  // namespace

bool HoldsRawBytes(const Connection& connection) {
    return ServerEncoding(connection) == "SQL_ASCII";
}

void PinSourceSettings(Connection& source, bool raw_bytes) {
    // ISO dates and the postgres interval style are read back the same under any input style;
    // UTC keeps timestamptz free of local-time ambiguities; three extra digits give the
    // shortest exact form of floating-point values.
    source.Execute(
        "SET DateStyle = 'ISO, MDY'; SET IntervalStyle = 'postgres'; SET TimeZone = 'UTC'; "
        "SET extra_float_digits = 3; SET bytea_output = 'hex'; "
        "SET standard_conforming_strings = on; SET synchronize_seqscans = off; " +
        ClientEncoding(raw_bytes));
    PinMonetary(source);
}

DestinationSession PinDestinationSettings(Connection& destination, const std::string& table,
                                          bool raw_bytes) {
    DestinationSession session{destination.QuoteIdentifier(table), false, {}};
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
    destination.Execute(
        "SET standard_conforming_strings = on; SET array_nulls = on; SET xmloption = content; " +
        ClientEncoding(raw_bytes));
    PinMonetary(destination);
    return session;
}

}  // namespace trp
