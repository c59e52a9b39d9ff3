#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "append/commit_check.h"
#include "db/profile.h"
#include "db/table_name.h"

namespace trp {

class OperationHost;

// What "Start Appending" reads from the screens when it is pressed; a run keeps it throughout.
struct AppendRequest {
    std::optional<ListedTable> table1;  // the selected table of database #1 (List1), if any
    std::optional<ListedTable> table2;  // the selected table of database #2 (List2), if any
    bool option1 = true;                // Option1: rows of the List2 table go into the List1 table
    Profile profile1;
    Profile profile2;
};

// How the rows reach the destination.
enum class AppendStrategy {
    // COPY in batches where that is indistinguishable from one INSERT per row, otherwise the
    // same INSERT statements pipelined in batches. Failed batches are retried in smaller pieces
    // down to single rows, so every row gets exactly the outcome it would get on its own.
    Fast,
    // The same INSERT statements sent pipelined in batches, whatever the destination allows.
    PipelinedInserts,
    // One INSERT per row, each committed on its own: the reference the fast paths must match.
    RowByRow,
};

struct AppendOptions {
    AppendStrategy strategy = AppendStrategy::Fast;
    std::size_t batch_rows = 1000000;      // rows per committed batch at most
    std::size_t batch_bytes = 16u << 20;   // bytes of row data per batch at most
    std::size_t insert_batch_rows = 5000;  // rows per pipelined INSERT batch at most
    CommitCheckLimits commit_check;        // asking after a commit whose connection was lost
    bool binary = true;                    // COPY's binary format where the columns allow it
    // Rows move inside the server (INSERT … SELECT) where both tables are in one database, in
    // chunks of this many blocks of the source table (0: never).
    long long chunk_blocks = 2048;
    int command_timeout = 5000;     // seconds per statement, on both connections
    int connection_timeout = 5000;  // seconds to open each connection
};

// Where a run stands on the destination.
struct AppendTally {
    long long settled = 0;    // source rows whose outcome is final: committed or reported
    long long added = 0;      // rows the destination took in committed transactions
    long long unchecked = 0;  // rows of a commit whose outcome could not be checked
};

// How a run ended, for a caller that acts on it (the command line's exit status); the screens
// need nothing of it, their user read the messages.
struct AppendOutcome {
    enum class End {
        NothingSelected,  // "Please select a table and field from each database."
        Done,             // "Done.": every row of the source committed or reported
        NoRecords,        // the source has no rows
        ColumnCounts,     // the tables have different numbers of columns
        Permission,       // a table could not be read (or a connection failed)
        Stopped,          // the stopped message: a failure of the run, or "Stop Appending"
        ProgramEnding,    // the program is ending: what was in flight was committed, and
                          // nothing was shown at the end
    };
    End end = End::NothingSelected;
    // The source's rows, once they were counted.
    std::optional<long long> source_rows;
    AppendTally tally;
    long long refused = 0;  // rows the destination refused, reported or not
    // The refused-rows file, when it holds every refused row (as the last message names it).
    std::string refused_rows_path;
};

// The append operation behind "Start Appending", under its own error trap. It reports through
// the host: messages, error reports, the busy pointer, the progress bar, pending events.
// A refused row gets its own report and the run goes on; a failure that concerns the whole run
// (a lost connection, a missing privilege, a full disk, …) or a source that can no longer be
// read gets one report and ends the run, as does the user's "Stop Appending": the last message
// then says how many rows arrived. When the program is ending, the run commits what is in
// flight and ends without a further word.
AppendOutcome RunAppend(const AppendRequest& request, OperationHost& host);
AppendOutcome RunAppend(const AppendRequest& request, OperationHost& host,
                        const AppendOptions& options);

}  // namespace trp
