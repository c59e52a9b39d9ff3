#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
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
//
// Where the run may reconnect (AppendOptions::reconnect_for), a lost destination is ridden out:
// the writer reconnects with the same connection string, asks after every commit in doubt, and
// goes on with the rows that have no outcome yet, nothing sent twice. A server that restarted or
// failed over may have lost commits it had acknowledged: the last batches (as many bytes as a
// batch holds) are kept with their commits, which are then proven present, or sent again.
class BatchWriter : public DestinationWriter, protected SettlementSink {
public:
    void Add(std::string_view line, const RowLocator& at) override;
    void AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) override;
    void Finish() override;
    void FinishInFlight() override;
    bool TakesBinaryRows() const override { return table_.binary; }

    // As one of a team of writers (WriterTeam): a batch that is complete is held rather than
    // sent, for the team to send when it chooses, and before refused rows are settled, which
    // may wait for the user, `before_settling` brings the team's other batches to their end.
    void JoinTeam(std::function<void()> before_settling);
    bool BatchComplete() const { return complete_; }
    // The source's rows before the next row this writer takes (its batch is empty).
    void TakesAfter(long long rows_before) { rows_taken_ = rows_before; }
    // The run ends for another writer's failure: a loss of this one's destination is not ridden
    // out; its commit in doubt is asked after at once.
    void GiveUpRidingOut() { reconnect_for_ = {}; }

protected:
    // How the first attempt at a batch (or at a chunk inside the server) ended.
    struct Outcome {
        bool committed = false;
        std::optional<std::size_t> failed_row;  // the row that failed, when known
        std::exception_ptr failure;             // the server's (or libpq's) first failure
        bool failure_is_the_rows = false;       // in the words of the row's own INSERT
        long long added = 0;                    // rows the committed transaction took
        std::string xid;                        // the committed transaction's id
        std::string opened_at;                  // and when it began
        // A committed batch with refused rows: its outcomes in order (none: every row went in).
        std::vector<SettledOutcome> outcomes;
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
    // Drops what the writer streams of the current batch, its connection being lost; the batch
    // then goes whole when it is sent (RowAdded sees `restarted_`).
    virtual void Restart() { transaction_.reset(); }

    // Runs `step` (taking a row, sending the batch); a loss of the destination within the
    // reconnection budget is ridden out (see the class). Anything else leaves as it came, the
    // batch given up.
    void Guarded(const std::function<void()>& step);
    // The same for a step that stands alone (a chunk inside the server): true when a loss was
    // ridden out and the step is to be tried again; the commit in doubt, if any, is settled.
    bool RodeOut(const std::exception_ptr& failure);

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
    bool ReportsMayWait() const override {
        return !stop_after_batch_ && listener_.ReportsMayWait();
    }
    void RefusalsComing(const std::vector<std::size_t>& rows) override;
    void Unchecked(std::size_t rows) override;
    void ThrowIfRunEnds(const std::exception_ptr& failure) override;
    void StopPoint() override;
    InDoubtCommit Doubt(std::optional<long long> rows) const override;
    void Committed(const CommitRecord& record) override;
    void CommitLost(bool in_doubt, CommitRecord record, long long stored) override;
    // Whether a lost destination is ridden out: a commit in doubt is then not asked after at
    // once, but kept (Doubtful) and asked after once the destination is back.
    bool RidesOut() const { return reconnect_for_.count() > 0; }
    void Doubtful(CommitRecord record);

    Connection& destination_;
    DestinationTable table_;
    EventPacer& pacer_;
    RowBatch batch_;
    std::optional<BatchTransaction> transaction_;  // the one the current batch streams into
    CommitCheckLimits commit_check_;
    bool restarted_ = false;  // the current batch was taken while the destination was lost
    bool in_flight_ = false;  // the program is ending: the batch commits only as it stands
    // The rows before refused rows: the current batch goes straight in pieces, not streamed
    // whole first (a refused row would cost the whole batch again).
    bool in_pieces_ = false;
    // Whether RowAdded streams the rows as they come.
    bool Streams() const { return !restarted_ && !in_pieces_; }
    // Refused rows are about to be settled (see JoinTeam).
    void BeforeSettling() {
        if (before_settling_) before_settling_();
    }

private:
    // A batch before the current one, kept for a server that may lose acknowledged commits.
    struct KeptBatch {
        RowBatch rows;
        long long first_row = 0;
        std::vector<char> settled;
        std::vector<CommitRecord> commits;
    };

    void Flush();
    void FinishFlush();
    void Settle(std::size_t rows, const Outcome& first_try);
    // The current batch's rows that have no outcome yet, settled as pieces.
    void SettleRest();
    // Reconnects after `failure`, within the budget counted from `lost_at`; false when the run
    // cannot go on.
    bool Reconnected(const std::exception_ptr& failure,
                     std::optional<std::chrono::steady_clock::time_point>& lost_at);
    bool TryToReconnect(const std::exception_ptr& failure,
                        std::optional<std::chrono::steady_clock::time_point>& lost_at);
    // The commits in doubt that will not be asked after any more: their rows could not be
    // checked.
    void GiveUpDoubts();
    // Asks after the commits in doubt; false when one could not be answered.
    bool ResolveDoubts();
    // After a restart or a failover: the kept commits, newest first, until one is found present.
    bool VerifyCommits(const ServerLife& life);
    // Sends again what the server lost of the kept batches.
    void ResendKept();
    // Takes back the outcomes of a commit the server lost.
    void Unsettle(const CommitRecord& record, std::vector<char>& settled);
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
    long long rows_taken_ = 0;      // rows handed to the writer so far
    long long batch_first_ = 0;     // the source's rows before the batch being settled
    long long refused_before_ = 0;  // rows refused before the batch being sent
    std::size_t max_rows_;
    std::size_t max_bytes_;
    WriterListener& listener_;
    SourceRowTexts* texts_;
    PGconn* watched_;         // the destination's connection, watched while it waits
    ServerLife server_life_;  // the destination server's when the writer began
    std::chrono::seconds reconnect_for_;
    bool wrote_ = false;                 // a transaction of this run committed on the destination
    bool flushing_ = false;              // the current batch is being sent
    bool unchecked_ = false;             // a row's outcome could not be checked: no riding out
    std::vector<char> settled_;          // the current batch's rows with their outcome
    std::vector<CommitRecord> commits_;  // the current batch's commits
    std::vector<CommitRecord> doubts_;   // commits in doubt, asked after once back
    // The last batches, oldest first, within the batch's own size in bytes (one at least).
    std::deque<KeptBatch> kept_;
    std::size_t kept_bytes_ = 0;
    std::exception_ptr loss_;  // the failure that lost the destination, while riding it out
    std::chrono::steady_clock::time_point batch_started_;
    std::function<void()> before_settling_;  // set for a writer of a team
    bool complete_ = false;                  // the batch is held complete for the team
};

}  // namespace trp
