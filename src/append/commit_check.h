#pragma once

#include <chrono>
#include <string>

namespace trp {

class EventPacer;

// What became of a transaction whose COMMIT was sent when its connection went down.
enum class CommitStatus { Committed, Aborted, Unknown };

struct CommitCheckLimits {
    std::chrono::milliseconds reconnect{10000};    // to open a new session at all
    std::chrono::milliseconds in_progress{30000};  // while the server still has it running
};

// Opens a new session on the same database (trying again for up to `limits.reconnect`) and asks
// the server for the transaction's status (pg_xact_status), asking again while it answers
// "in progress" (a commit still being written) for up to `limits.in_progress`. Unknown when no
// answer comes in time, or the server no longer knows the transaction. Events are processed
// throughout.
CommitStatus CheckCommit(const std::string& connection_string, const std::string& xid,
                         EventPacer& pacer, const CommitCheckLimits& limits = {});

}  // namespace trp
