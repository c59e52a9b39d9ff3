#pragma once

#include <libpq-fe.h>

#include <string>
#include <vector>

#include "append/settling.h"

namespace trp {

class EventPacer;

// Rows each as its own INSERT statement under a savepoint of its own, inside the open
// transaction, all pipelined in one round trip: a refused row is rolled back to its savepoint
// alone and the rows after it go on, so each row fares as its own INSERT statement would with
// every check made at once. `before` comes first (the end of the last piece); its failure, or a
// savepoint's, is no row's, and the row it befalls carries it as the run's.
struct RowsAlone {
    std::vector<PieceResult> rows;  // one for each statement
    // What puts the transaction back on its feet after the last row (its savepoint's end).
    std::vector<std::string> next;
};
RowsAlone SendRowsAlone(PGconn* conn, EventPacer& pacer, const std::vector<std::string>& before,
                        const std::vector<std::string>& statements);

}  // namespace trp
