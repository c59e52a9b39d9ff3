#pragma once

#include <string>

#include "append/column_types.h"

namespace trp {

class Connection;
class EventPacer;

// Whether COPY into the destination table would store exactly what one INSERT per row stores,
// fire the same triggers at the same moments and fail on exactly the same rows. When it might
// not, `reason` names the first feature found that decides against it.
struct DestinationFeatures {
    bool copy_equivalent = false;
    std::string reason;
    // Policies apply to the table or a partition: they may refuse single rows.
    bool row_security = false;
    // The table's columns, for the choice of COPY's format.
    ColumnTypes columns;
    // It refers to other tables: its checks must see their rows as they are now.
    bool foreign_keys = false;
    // A unique or exclusion index, of the table or a partition: rows of two transactions at once
    // may then wait for each other, and which of two rows with one key goes in depends on
    // which commits first.
    bool unique_keys = false;
    // The table's own name, as the server names it in its messages ("COPY <name>, line 5").
    std::string relation_name;
};

// Reads the destination's catalogue (the table's name as the session reads it), in one round
// trip. Throws DbError when the catalogue cannot be read.
DestinationFeatures DetectDestinationFeatures(Connection& destination,
                                              const std::string& quoted_table, EventPacer& pacer);

// Whether the server lets a transaction set client_connection_check_interval (14 and later, on
// systems that can check a connection without reading from it).
bool ChecksConnections(Connection& destination, EventPacer& pacer);

}  // namespace trp
