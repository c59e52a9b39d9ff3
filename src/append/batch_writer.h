#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "append/batch_transaction.h"
#include "append/copy_text_codec.h"
#include "append/destination_writer.h"
#include "db/pg_handles.h"

namespace trp {

// The rows of one batch (COPY text lines or binary tuples), one buffer for all, kept until the
// batch is committed so that a failed batch can be sent again in pieces; for binary tuples also
// where each is stored in the source. A large row may instead be held alone, in the buffer libpq
// put it in.
class RowBatch {
public:
    // The batch is this one row, in its own buffer (the batch must be empty).
    void Adopt(PqBuffer buffer, std::string_view row, bool binary, const RowLocator& at) {
        if (!binary && (row.empty() || row.back() != '\n')) {
            Append(row, binary, at);  // a text row without its line end needs one: copied after all
            return;
        }
        adopted_ = std::move(buffer);
        adopted_row_ = row;
        if (binary) locators_.push_back(at);
    }
    // A row in COPY's text format (its line end is added when missing), or a binary tuple.
    void Append(std::string_view row, bool binary, const RowLocator& at) {
        data_.append(row);
        if (!binary && (row.empty() || row.back() != '\n')) data_ += '\n';
        ends_.push_back(data_.size());
        if (binary) locators_.push_back(at);
    }
    // Frees a row held alone in its own buffer; the batch still counts it.
    void LetGoOfAdopted() {
        if (!adopted_) return;
        adopted_.reset();
        adopted_row_ = {};
        let_go_ = true;
    }
    // Keeps the INSERT statement that carried the row let go, for the record of its refusal.
    // The statement is kept rather than the values: it had to be made anyway, so a large row
    // is held once, not twice.
    void KeepLetGoStatement(std::string statement) {
        if (let_go_) let_go_statement_ = std::move(statement);
    }
    // The statement of the row let go, once.
    std::optional<std::string> TakeLetGoStatement() { return std::exchange(let_go_statement_, {}); }
    // The texts of binary rows read again from the source, kept as long as the batch.
    const RowValues* KeptTexts(std::size_t row) const {
        const auto kept = texts_.find(row);
        return kept == texts_.end() ? nullptr : &kept->second;
    }
    void KeepTexts(std::size_t row, RowValues values) { texts_[row] = std::move(values); }
    void Clear() {
        data_.clear();
        ends_.clear();
        locators_.clear();
        texts_.clear();
        adopted_.reset();
        let_go_ = false;
        let_go_statement_.reset();
    }
    std::size_t Rows() const { return adopted_ || let_go_ ? 1 : ends_.size(); }
    // The batch is a large row held alone.
    bool Adopted() const { return adopted_ != nullptr || let_go_; }
    std::size_t Bytes() const { return adopted_ ? adopted_row_.size() : data_.size(); }
    std::size_t Begin(std::size_t row) const { return row == 0 ? 0 : ends_[row - 1]; }
    // Rows [first, last) as one piece of COPY data.
    std::string_view Range(std::size_t first, std::size_t last) const {
        if (adopted_ || let_go_) return first == last ? std::string_view() : adopted_row_;
        return std::string_view(data_).substr(Begin(first), Begin(last) - Begin(first));
    }
    std::string_view Row(std::size_t row) const { return Range(row, row + 1); }
    // Where a binary row is stored in the source.
    const RowLocator& Locator(std::size_t row) const { return locators_.at(row); }

private:
    std::string data_;
    std::vector<std::size_t> ends_;
    std::vector<RowLocator> locators_;
    std::map<std::size_t, RowValues> texts_;
    PqBuffer adopted_;
    std::string_view adopted_row_;
    bool let_go_ = false;
    std::optional<std::string> let_go_statement_;
};

// Collects rows into batches, each committed in a transaction of its own (BatchTransaction). A
// batch that fails is rolled back and settled in pieces, so that each refused row is reported
// with the very message a lone INSERT gets while every other row is committed, in source order:
// where the server names the row that failed (the INSERT statement, or COPY's line), the rows
// before it go as one piece, it goes alone as its own INSERT statement, and the rows after it
// in pieces that start small and grow while no row is refused; where nothing names the row, the
// batch is halved down to single rows. Where refused rows come one after the other, the rows
// after them go one by one, each in a transaction of its own, many at a time in a pipeline.
// After a refusal, the next batches start small and grow again. When the connection goes down
// while a COMMIT is under way, a new session asks the server what became of that transaction,
// so its rows are counted by the answer and never sent twice.
class BatchWriter : public DestinationWriter {
public:
    void Add(std::string_view line, const RowLocator& at) override;
    void AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) override;
    void Finish() override;
    void FinishInFlight() override;
    bool TakesBinaryRows() const override { return table_.binary; }

protected:
    struct Outcome {
        bool committed = false;
        std::optional<std::size_t> failed_row;  // the row that failed, when known
        std::exception_ptr failure;             // the server's (or libpq's) first failure
        bool lone_insert = false;               // a single row sent as its own INSERT
        long long added = 0;                    // rows the committed transaction took
        std::string xid;                        // the committed transaction's id
        std::string opened_at;                  // and when it began, by the server's clock
    };

    BatchWriter(Connection& destination, DestinationTable table, std::size_t max_rows,
                const AppendOptions& options, EventPacer& pacer, WriterListener& listener,
                SourceRowTexts* texts);
    ~BatchWriter() override;

    // Called after a row joined the batch; may start sending the batch early.
    virtual void RowAdded() {}
    // Sends the whole batch the first time (what RowAdded has not sent yet included).
    virtual Outcome SendBatch() { return Send(0, batch_.Rows()); }
    // Sends rows [first, last) of the batch in one transaction, committed when all succeed and
    // rolled back otherwise.
    virtual Outcome Send(std::size_t first, std::size_t last) = 0;

    // Rows [first, last) as their own INSERT statements, pipelined in one transaction.
    Outcome SendInserts(std::size_t first, std::size_t last);
    // The same in three parts, for rows that go out as they come: the transaction opened in a
    // pipeline; one row's statement (its values, when already in text); and the end, where the
    // statements' results are read and the COMMIT goes out only once they all succeeded (so
    // what the server stored is known before it commits), and the outcome of rows
    // [first, last), which must be the rows sent since the beginning.
    void BeginInserts();
    void SendInsert(std::size_t row, const RowValues* values, bool lone);
    Outcome EndInserts(std::size_t first, std::size_t last);
    // A row's values in their text forms, as the INSERT statement quotes them. A binary tuple's
    // are the source's own output of the stored row (read again in one round trip for all the
    // rows asked for, and kept with the batch).
    RowValues TextValues(std::size_t row);
    std::vector<RowValues> TextValues(std::size_t first, std::size_t last);
    // How every transaction of this writer opens (`begin` and `snapshot` for one that reads
    // the source's snapshot inside the server). While a failed batch is settled, its pieces
    // commit without waiting for the log to reach the disk: the batch's end makes them durable
    // all at once (see SettlePending).
    TransactionSetup Setup(std::string begin = "BEGIN", std::string snapshot = {}) const;
    std::string Settings() const;
    // The connection went down during `transaction`, which holds `rows` rows of which the
    // server stored `added` (when known): counts them by what became of it, then the caller
    // rethrows.
    void Lost(BatchTransaction& transaction, std::size_t rows, std::optional<long long> added);
    // The wait for the server was given up (the program is ending) during `transaction`, which
    // holds `rows` rows: counts them as not checked when its COMMIT was under way.
    void Abandoned(const BatchTransaction& transaction, std::size_t rows);
    // Throws the failure when it ends the run.
    void ThrowIfRunEnds(const std::exception_ptr& failure);
    // Rows whose transaction committed (`xid`, begun at `opened_at`: which one, for a commit not
    // yet known durable).
    void Committed(std::size_t rows, long long added, std::string xid = {},
                   std::string opened_at = {});
    // What is known of a commit in doubt that stored `rows` rows (when known), but its id.
    InDoubtCommit Doubt(std::optional<long long> rows) const;

    Connection& destination_;
    DestinationTable table_;
    EventPacer& pacer_;
    RowBatch batch_;
    std::optional<BatchTransaction> transaction_;  // the one the current batch streams into

private:
    void Flush();
    void Resolve(std::size_t first, std::size_t last, const Outcome& outcome);
    void Settle(std::size_t first, std::size_t last);
    void SettleHalves(std::size_t first, std::size_t last);
    // Rows [from, last) after a refused row: pieces growing from small, or one by one while
    // refusals come close together.
    void SettleAfterRefusal(std::size_t from, std::size_t last);
    // Rows [first, last), each in a transaction of its own (implicit, ended by a sync), all
    // pipelined: exactly the outcome of one INSERT per row, in one round trip.
    void SettleOneByOne(std::size_t first, std::size_t last);
    void SendSingle(std::size_t row);
    void Refused(std::size_t row, const std::exception_ptr& failure);
    // The outcomes of a failed batch's rows are counted and reported once the commits of its
    // pieces are durable, in source order: after a commit of its own, which waits for the log
    // up to it and so for every commit before; where that cannot be had, by what the server
    // says of each piece's transaction.
    void SettlePending();
    void Count(std::size_t rows, long long added);
    void Report(std::size_t row, const std::exception_ptr& failure);
    // The values of a refused row as its INSERT carried them, if they can be had.
    std::optional<RowValues> RefusedValues(std::size_t row);
    void StopPoint() const;
    // Whether the destination table is no longer what the run started with (another shape, or
    // not found under its name).
    bool TableChanged();
    // The failure with the server's message in UTF-8, for showing.
    std::exception_ptr Readable(const std::exception_ptr& failure);

    std::size_t inserts_sent_ = 0;  // statements in the open pipeline
    // The user chose to stop on a refused row: the rest of the batch, already sent, is settled
    // (without reports), then the run stops.
    bool stop_after_batch_ = false;
    std::size_t batch_limit_ = 0;   // rows the next batch may take: fewer after a refusal
    long long refusals_ = 0;        // rows refused so far
    std::size_t last_refused_ = 0;  // the batch's row refused last, plus one (0: none yet)
    std::size_t refusal_gap_ = 0;   // rows between the batch's last two refused rows
    bool close_refusals_ = false;   // refused rows came one after the other
    // A failed batch is being settled: what its pieces settle waits in pending_.
    struct Settlement {
        std::size_t rows = 0;  // rows committed (0: a refused row)
        long long added = 0;
        std::string xid;  // the transaction that committed them
        std::string opened_at;
        std::size_t refused_row = 0;
        std::exception_ptr failure;
    };
    bool resolving_ = false;
    std::vector<Settlement> pending_;
    std::size_t max_rows_;
    std::size_t max_bytes_;
    CommitCheckLimits commit_check_;
    WriterListener& listener_;
    SourceRowTexts* texts_;
    PGconn* watched_;         // the destination's connection, watched while it waits
    ServerLife server_life_;  // the destination server's when the writer began
    std::chrono::steady_clock::time_point batch_started_;
};

}  // namespace trp
