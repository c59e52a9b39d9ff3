#pragma once

#include <libpq-fe.h>

#include <string>
#include <vector>

#include "append/copy_text_codec.h"
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
    // Prepared rows only: a row was refused in words its own statement might not get, or the
    // statement could not be prepared. Nothing of the rows may stand: they go again, each as
    // its own statement.
    bool again_as_statements = false;
};
RowsAlone SendRowsAlone(PGconn* conn, EventPacer& pacer, const std::vector<std::string>& before,
                        const std::vector<std::string>& statements);

// The same with one statement prepared for them all, each row's values its parameters
// (`insert` is INSERT INTO "<table>" VALUES($1, …)): the server parses and plans it once rather
// than once a row. Only a refusal that names no place in a statement and comes from no context
// (an integrity violation: a key, a check, a null, a foreign key) is in the words of the row's
// own statement; any other sets `again_as_statements`.
RowsAlone SendPreparedRowsAlone(PGconn* conn, EventPacer& pacer,
                                const std::vector<std::string>& before, const std::string& insert,
                                const std::vector<RowValues>& rows);

}  // namespace trp
