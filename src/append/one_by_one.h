#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace trp {

class EventPacer;

// What became of one row sent alone.
struct LoneRowOutcome {
    std::optional<long long> added;  // once its INSERT's result was read
    std::exception_ptr failure;      // its own, or one of its transaction's opening (no row's)
    bool opening_failed = false;     // the failure is the opening's, not the row's
    std::string xid;                 // its transaction's id
    std::string opened_at;           // and when it began
};

// The rows' own INSERT statements, each in a transaction of its own (implicit, ended by a sync)
// that opens with `opening` (a SELECT of its settings) and closes with `closing` (a SELECT of
// its id and its start, skipped when the row was refused), all pipelined in one round trip:
// exactly the outcome of one INSERT per row.
//
// `read` says for how many rows the outcome is known. When the connection goes down or the wait
// is given up part-way, the exception (BrokenConnection, WaitAbandoned) is kept in `broken`: the
// row being read then may have committed, and so may every row after it.
struct OneByOneRun {
    std::vector<LoneRowOutcome> rows;
    std::size_t read = 0;
    std::exception_ptr broken;
};
OneByOneRun SendOneByOne(PGconn* conn, EventPacer& pacer, const std::string& opening,
                         const std::vector<std::string>& statements, const std::string& closing);

}  // namespace trp
