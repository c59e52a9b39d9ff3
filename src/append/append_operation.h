#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "append/append_options.h"
#include "append/append_tally.h"
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

// How a run ended, for a caller that acts on it (the command line's exit status); the screens
// need nothing of it, their user read the messages.
struct AppendOutcome {
    enum class End {
        NothingSelected,  // "Please select a table and field from each database."
        Done,             // "Done.": every row of the source committed or reported
        NoRecords,        // the source has no rows
        ColumnCounts,     // the tables have different numbers of columns
        Permission,       // a table could not be read (or a connection failed)
        ServerTooOld,     // a server is older than any the program appends with (reported)
        Stopped,          // the stopped message: a failure of the run, or "Stop Appending"
        ProgramEnding,    // the program is ending: what was in flight was committed, and
                          // nothing was shown at the end
    };
    End end = End::NothingSelected;
    // The source's rows, once they were counted.
    std::optional<long long> source_rows;
    AppendTally tally;
    AppendPath path = AppendPath::None;  // the way the rows went
    std::size_t source_sessions = 1;     // how many source sessions read the rows at once
    long long refused = 0;               // rows the destination refused, reported or not
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

// The options of the runs started without any (the screens'): the defaults, which a test may
// change, such as the time a lost destination is tried again.
AppendOptions& DefaultAppendOptions();

}  // namespace trp
