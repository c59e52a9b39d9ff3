#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "append/append_options.h"
#include "append/append_tally.h"
#include "append/column_types.h"
#include "append/copy_text_codec.h"
#include "append/row_locator.h"
#include "append/source_row_texts.h"
#include "db/pg_handles.h"
#include "db/server_version.h"

namespace trp {

class Connection;
class EventPacer;

// A row the destination refused.
struct RefusedRow {
    std::exception_ptr failure;  // what its own INSERT statement got
    // The values its INSERT statement carried; nullopt when they could not be had (a binary row
    // the destination could not turn into text, which is then its failure).
    std::optional<RowValues> values;
    long long source_row = 0;  // counted from 1 in the source's order
};

// What a writer tells the run as rows reach their outcome, in source order.
class WriterListener {
public:
    virtual ~WriterListener() = default;
    // A row the destination refused. Returns false when the user chose to stop appending: the
    // writer then settles the rest of the batch it has sent (refused rows without a report)
    // and stops.
    virtual bool RowRefused(const RefusedRow& row) = 0;
    // Whether the next refused row's report may wait for the user (a box to answer): a writer
    // then holds no transaction open on the destination while it is shown.
    virtual bool ReportsMayWait() const { return true; }
    // The tally moved on: rows were committed or reported.
    virtual void Progressed(const AppendTally& tally) = 0;
    // The destination was lost and is being reconnected, `so_far` since the loss (told about
    // once a second); then it is back after `took`, and the run goes on at the source's row
    // `next_row`.
    virtual void Reconnecting(std::chrono::seconds /*so_far*/) {}
    virtual void Reconnected(std::chrono::seconds /*took*/, long long /*next_row*/) {}
};

// The destination table as the writers address it.
struct DestinationTable {
    std::string quoted_name;  // the identifier in double quotes, as a query's opening reads it
    // The same as statements after a transaction's opening read it (see DestinationSession).
    std::string quoted_name_in_transaction;
    std::string settings;  // what each transaction sets for itself (SetLocally)
    int columns = 0;
    bool row_security = false;  // policies may refuse single rows with insufficient privilege
    bool messages_in_server_encoding = false;  // see DestinationSession
    std::string copy_options;                  // see DestinationSession
    ColumnTypes column_types;   // as the catalogue has them (empty when it could not be read)
    bool foreign_keys = false;  // see DestinationFeatures
    bool unique_keys = false;   // see DestinationFeatures
    std::string relation_name;  // see DestinationFeatures
    // Rows come as binary tuples (COPY's binary format).
    bool binary = false;
    ServerVersion server;  // the destination's
};

// Appends rows, given in COPY's text format, to the destination table in the order given, each
// batch in a transaction of its own. Every row ends committed or reported to the listener. A
// failure that concerns the whole run (see ReachOf) leaves as the DbError itself, after the
// outcome of a commit that was under way has been settled; AppendStopped leaves when the user
// stops or the program ends.
class DestinationWriter {
public:
    virtual ~DestinationWriter() = default;
    // Takes the next row (with its line end, or a binary tuple stored at `at`); may send and
    // commit rows taken earlier.
    virtual void Add(std::string_view line, const RowLocator& at) = 0;
    // The same for a large row, together with the buffer that holds it (which it keeps rather
    // than copy the row).
    virtual void AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) = 0;
    // Sends and commits every row still held.
    virtual void Finish() = 0;
    // The program is ending: commits the rows taken so far as they stand, if the destination
    // takes them all, and reports nothing.
    virtual void FinishInFlight() = 0;

    const AppendTally& Tally() const { return tally_; }
    // The rows are to come as binary tuples rather than in COPY's text format.
    virtual bool TakesBinaryRows() const { return false; }
    // The way rows go through this writer.
    virtual AppendPath Path() const = 0;

    // Whether rows of a table of the same database with these columns can move inside the
    // server (INSERT … SELECT) with exactly the outcome they would have row by row: the same
    // types, each one that reads back its own text output unchanged whatever the session's
    // settings and that no domain constrains (INSERT … SELECT checks no domain of a value that
    // already has it), and a destination where COPY would do (no triggers, rules, …) that
    // refers to no other table (its checks would see those as of the source's snapshot).
    virtual bool CanMoveInsideServer(const ColumnTypes& /*source_columns*/) const { return false; }
    // Moves the rows of the source's chunks `first` to `count` - 1 (`select` gives a chunk's
    // SELECT on the source table), each chunk in a transaction of its own that reads the source's
    // exported `snapshot`, several at once where the writer has the sessions for them. The rows
    // of a chunk count once its transaction committed, in the chunks' order. Returns the first
    // chunk not moved: `count` when all were; otherwise a chunk the destination refused a row
    // of, with nothing of it kept (its rows then have to come the usual way, through Add), or,
    // when the program is ending, the first not begun.
    virtual std::size_t MoveInsideServer(std::size_t first, std::size_t /*count*/,
                                         const std::function<std::string(std::size_t)>& /*select*/,
                                         const std::string& /*snapshot*/) {
        return first;
    }

protected:
    AppendTally tally_;
};

}  // namespace trp
