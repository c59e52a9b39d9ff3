#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "db/server_version.h"

namespace trp {

class EventPacer;

// What became of a transaction whose COMMIT was sent when its connection went down.
enum class CommitStatus { Committed, Aborted, Unknown };

struct CommitCheckLimits {
    std::chrono::milliseconds reconnect{10000};    // to open a new session at all
    std::chrono::milliseconds in_progress{30000};  // while the server still has it running
    // To count a table's rows of one transaction, the last resort after a restart.
    std::chrono::milliseconds rows_lookup{300000};
};

// What is known of a transaction whose COMMIT went out but whose answer never came.
struct InDoubtCommit {
    std::string xid;        // its id with its epoch, in decimal
    std::string opened_at;  // the server's clock when it began (empty: not known)
    // The server's life when the writer's session began: while it is still the same, the id
    // has not been handed out again.
    ServerLife life;
    // The rows it stored, when their results came back before the COMMIT, and the table they
    // went into (its name as a session reads it; empty: they cannot be looked up).
    std::optional<long long> rows;
    std::string table;
    // Nothing (no trigger, no rule) could have put its rows anywhere but in that table.
    bool rows_stay_in_table = false;
};

// Opens a new session on the same database (trying again for up to `limits.reconnect`) and asks
// the server for the transaction's status, again while it answers "in progress" (a commit still
// being written) for up to `limits.in_progress`. A commit is taken only once it is durable: the
// server's log is on disk up to it.
//
// After the server restarted or recovered from a crash, the id may have been handed out again
// and committed by someone else. "Committed" then counts only where it is proven to be this
// transaction's: by the checkpoint that ended the restart (the ids it had handed out before it,
// and whether the transaction began before it), or else by finding exactly its rows, marked
// with its id, in the table. Not committed after a restart means that it did not commit: an id
// that had committed, durably, is never handed out again.
//
// Unknown when no answer comes in time, the server no longer knows the transaction, nothing
// proves whose commit the server reports, or the program ends meanwhile (it has no time to ask:
// the caller counts the rows among those not checked, and the next wait ends the work). Events
// are processed throughout.
CommitStatus CheckCommit(const std::string& connection_string, const InDoubtCommit& commit,
                         EventPacer& pacer, const CommitCheckLimits& limits = {});

}  // namespace trp
