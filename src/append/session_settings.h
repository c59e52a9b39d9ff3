#pragma once

#include <string>
#include <utility>
#include <vector>

namespace trp {

class Connection;

// Whether the database has no encoding of its own (SQL_ASCII): its text is bytes that no
// conversion may touch.
bool HoldsRawBytes(const Connection& connection);

// A setting and its value for the current transaction.
using Setting = std::pair<std::string, std::string>;
using Settings = std::vector<Setting>;

// The settings as the select list of one statement (set_config(…, true) each): they hold for
// the transaction that runs it and end with it. Nothing is set for the session itself: behind a
// pooler in transaction mode the next transaction may run on another server session, and this
// one may serve another client.
std::string SetLocally(const Settings& settings);

// What the source's reading transaction (and a second look at one of its rows) needs, so that
// its rows mean exactly the same to any destination whatever the server's, database's or role's
// own settings are: ISO dates and the postgres interval style are read back the same under any
// input style; UTC keeps timestamptz free of local-time ambiguities; three extra digits give the
// shortest exact form of floating-point values; money in the C locale's form; rows in the
// table's stored order (no synchronized scans). `raw_bytes`: the rows are read unconverted
// (client encoding SQL_ASCII). The reading transaction may stay idle while the destination
// works on a chunk or a box is open, so it is exempt from the idle-transaction time-out; the
// server's keepalives still end it, and free its snapshot, once its client is gone.
Settings SourceSettings(bool raw_bytes);

// What each destination transaction needs: only what changes how incoming values are parsed
// (literals quoted by doubling apostrophes alone, "NULL" array elements, XML fragments, money),
// the client encoding, the command time-out, and the server's own watch over our connection
// (keepalives, the check for a client that went away, and how long what it sends may stay
// unacknowledged) so that a session whose client vanished ends and frees its locks. Everything
// else (time zone, date style, …) stays as the destination database is configured, for its
// triggers, checks and defaults to see. `check_interval`: the server accepts
// client_connection_check_interval; `user_timeout`: it accepts tcp_user_timeout.
//
// The source's session gets no user time-out: it legitimately waits, unread, while a report is
// open or the destination works, and a user time-out also ends a connection whose reader paused.
Settings DestinationSettings(bool raw_bytes, int command_timeout, bool check_interval,
                             bool user_timeout);

// What a transaction of a single row needs of DestinationSettings: how its values are parsed,
// and the command time-out. A session's watch over its client changes its socket's options at
// the transaction's start and end: worth it for a batch, not for each row of a row-by-row run.
Settings LoneRowSettings(bool raw_bytes, int command_timeout);

// How the destination table is named and spoken to.
struct DestinationSession {
    // The table's name quoted, as a statement sent while the session speaks UTF-8 reads it (the
    // opening of a transaction and what comes in the same query).
    std::string quoted_name;
    // The same for statements sent after the opening has set the transaction's client
    // encoding: unconverted rows into a database with an encoding other than UTF-8 have it read
    // the name in the database's own encoding.
    std::string quoted_name_in_transaction;
    // Unconverted text on a database with an encoding other than UTF-8: the server's messages
    // arrive in the database's encoding and have to be turned into UTF-8 before they are shown.
    bool messages_in_server_encoding = false;
    // What COPY … FROM STDIN adds for unconverted rows: their encoding named as the database's
    // own, which has the server check every row against it (a COPY in SQL_ASCII would not).
    std::string copy_options;
};

// `raw_bytes`: rows from a source without an encoding are sent unconverted (client encoding
// SQL_ASCII), so the destination checks each against its own encoding.
DestinationSession DescribeDestination(Connection& destination, const std::string& quoted_name,
                                       bool raw_bytes);

}  // namespace trp
