#pragma once

#include <string>
#include <utility>

namespace trp {

class Connection;

// Whether the database has no encoding of its own (SQL_ASCII): its text is bytes that no
// conversion may touch.
bool HoldsRawBytes(const Connection& connection);

// The settings that decide how values are written as text, as the source's session has them
// (with lc_monetary 'C' where the server knows it): ISO dates and the postgres interval style
// are read back the same under any input style; UTC keeps timestamptz free of local-time
// ambiguities; three extra digits give the shortest exact form of floating-point values.
inline constexpr std::pair<const char*, const char*> kTextOutputSettings[] = {
    {"DateStyle", "ISO, MDY"},
    {"IntervalStyle", "postgres"},
    {"TimeZone", "UTC"},
    {"extra_float_digits", "3"},
    {"bytea_output", "hex"}};
// One statement that gives the current transaction those settings.
std::string TextOutputSettingsForTransaction();

// Fixes the settings that decide how the source writes values as text, so that its rows mean
// exactly the same to any destination whatever the server's, database's or role's own settings
// are, and turns synchronized scans off so that rows come in the table's stored order.
// `raw_bytes`: the rows are read unconverted (client encoding SQL_ASCII).
void PinSourceSettings(Connection& source, bool raw_bytes);

// How the destination session reads and writes text once pinned.
struct DestinationSession {
    std::string quoted_name;  // the table's name quoted as this session reads it
    // Unconverted text on a database with an encoding other than UTF-8: the server's messages
    // arrive in the database's encoding and have to be turned into UTF-8 before they are shown.
    bool messages_in_server_encoding = false;
    // What COPY … FROM STDIN adds for unconverted rows: their encoding named as the database's
    // own, which has the server check every row against it (a COPY in SQL_ASCII would not).
    std::string copy_options;
};

// Fixes only what changes how the destination parses incoming values; everything else (time
// zone, date style, …) stays as the destination database is configured, for its triggers,
// checks and defaults to see. `raw_bytes`: rows from a source without an encoding are sent
// unconverted (client encoding SQL_ASCII), so the destination checks each against its own
// encoding.
DestinationSession PinDestinationSettings(Connection& destination, const std::string& table,
                                          bool raw_bytes);

}  // namespace trp
