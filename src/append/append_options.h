#pragma once

#include <chrono>
#include <cstddef>

#include "append/commit_check.h"

namespace trp {

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

// The way a run's rows actually took (for a caller that checks it; the user sees no difference).
enum class AppendPath {
    None,          // no row was sent
    BinaryCopy,    // COPY in its binary format
    TextCopy,      // COPY in its text format
    Inserts,       // each row's own INSERT statement
    InsideServer,  // INSERT … SELECT within one database, chunk by chunk
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
    // Destination sessions that write one run's rows at once: within one database, its chunks
    // (1 to 8).
    int writers = 2;
    // Source sessions that read a plain table at once, in parts of `part_blocks` blocks (1 to
    // kMostReaders; 1: one stream). 0: as many as writers where the program's waits over the
    // table's first blocks were mostly for the source's rows, otherwise one.
    int readers = 0;
    long long part_blocks = 256;
    static constexpr int kMostReaders = 4;
    int command_timeout = 5000;     // seconds per statement, on both connections
    int connection_timeout = 5000;  // seconds to open each connection
    // How long a lost destination is tried again before the run ends (0: at the first loss).
    std::chrono::seconds reconnect_for{300};
};

}  // namespace trp
