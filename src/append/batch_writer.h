#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "append/batch_transaction.h"
#include "append/destination_writer.h"
#include "append/row_batch.h"
#include "append/settlement.h"
#include "append/settling.h"
#include "db/pg_handles.h"

namespace trp {

// Collects rows into batches, each committed in a transaction of its own (BatchTransaction). A
// batch that fails is rolled back and settled (Settling, Settlement), so that each refused row is
// reported with the very message a lone INSERT gets while every other row is committed, in source
// order. After a refusal, the next batches start small and grow again. When the connection goes
// down while a COMMIT is under way, a new session asks the server what became of that
// transaction, so its rows are counted by the answer and never sent twice.
class BatchWriter : public DestinationWriter, protected SettlementSink {
public:
    void Add(std::string_view line, const RowLocator& at) override;
    void AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) override;
    void Finish() override;
    void FinishInFlight() override;
    bool TakesBinaryRows() const override { return table_.binary; }

protected:
    // How the first attempt at a batch (or at a chunk inside the server) ended.
    struct Outcome {
        bool committed = false;
        std::optional<std::size_t> failed_row;  // the row that failed, when known
        std::exception_ptr failure;             // the server's (or libpq's) first failure
        bool failure_is_the_rows = false;       // in the words of the row's own INSERT
        long long added = 0;                    // rows the committed transaction took
    };

    BatchWriter(Connection& destination, DestinationTable table, std::size_t max_rows,
                const AppendOptions& options, EventPacer& pacer, WriterListener& listener,
                SourceRowTexts* texts);
    ~BatchWriter() override;

    // Called after a row joined the batch; may start sending the batch early.
    virtual void RowAdded() {}
    // Sends the whole batch the first time (what RowAdded has not sent yet included), in one
    // transaction, committed when all of it succeeds and rolled back otherwise.
    virtual Outcome SendBatch() = 0;
    // Whether a failed batch is settled in pieces of COPY (otherwise of INSERT statements).
    virtual bool PiecesByCopy() const = 0;

    // How every transaction of this writer opens (`begin` and `snapshot` for one that reads
    // the source's snapshot inside the server).
    TransactionSetup Setup(std::string begin = "BEGIN", std::string snapshot = {}) const {
        return TransactionSetup{std::move(begin), std::move(snapshot), table_.settings};
    }
    // The connection went down during `transaction`, which holds `rows` rows of which the
    // server stored `added` (when known): counts them by what became of it, then the caller
    // rethrows.
    void Lost(BatchTransaction& transaction, std::size_t rows, std::optional<long long> added);
    // The wait for the server was given up (the program is ending) during `transaction`, which
    // holds `rows` rows: counts them as not checked when its COMMIT was under way.
    void Abandoned(const BatchTransaction& transaction, std::size_t rows);
    // Rows whose transaction committed.
    void Count(std::size_t rows, long long added);
    // The failure with the server's message in UTF-8, for showing.
    std::exception_ptr Readable(const std::exception_ptr& failure);
    // Rows of the source that moved inside the server: the rows after them come later in the
    // source's order.
    void TookInsideServer(long long rows) { rows_taken_ += rows; }

    // SettlementSink, also for the writers.
    void Settled(std::size_t first, std::size_t last, long long added) override;
    void RowRefused(std::size_t row, const std::exception_ptr& failure) override;
    void Unchecked(std::size_t rows) override;
    void ThrowIfRunEnds(const std::exception_ptr& failure) override;
    void StopPoint() override;
    InDoubtCommit Doubt(std::optional<long long> rows) const override;

    Connection& destination_;
    DestinationTable table_;
    EventPacer& pacer_;
    RowBatch batch_;
    std::optional<BatchTransaction> transaction_;  // the one the current batch streams into
    CommitCheckLimits commit_check_;

private:
    void Flush();
    void Settle(std::size_t rows, const Outcome& first_try);
    // The values of a refused row as its INSERT carried them, if they can be had.
    std::optional<RowValues> RefusedValues(std::size_t row);
    // Whether the destination table is no longer what the run started with (another shape, or
    // not found under its name).
    bool TableChanged();

    // The user chose to stop on a refused row: the rest of the batch, already sent, is settled
    // (without reports), then the run stops.
    bool stop_after_batch_ = false;
    std::size_t batch_limit_ = 0;  // rows the next batch may take: fewer after a refusal
    RefusalPattern refusals_;
    long long rows_taken_ = 0;   // rows handed to the writer so far
    long long batch_first_ = 0;  // the source's rows before the batch being settled
    std::size_t max_rows_;
    std::size_t max_bytes_;
    WriterListener& listener_;
    SourceRowTexts* texts_;
    PGconn* watched_;         // the destination's connection, watched while it waits
    ServerLife server_life_;  // the destination server's when the writer began
    std::chrono::steady_clock::time_point batch_started_;
};

}  // namespace trp
