#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "append/batch_transaction.h"
#include "append/commit_check.h"
#include "append/settling.h"

namespace trp {

class Connection;
class EventPacer;
class RowBatch;
class SourceRowTexts;
struct DestinationTable;

// An outcome the settling hands on: rows [first, last) of the batch that went in, or a refused
// row (`failure` set).
struct SettledOutcome {
    std::size_t first = 0;
    std::size_t last = 0;  // first + 1 for a refused row
    long long added = 0;
    std::exception_ptr failure;
};

// A commit and what it settles: rows that went in, and refused rows whose turn came before the
// commit. Kept while it may still have to be proven (its COMMIT's answer was lost, or the server
// may have lost it since, in a crash or a failover).
struct CommitRecord {
    InDoubtCommit commit;
    std::vector<SettledOutcome> outcomes;
};

// What the settling of a failed batch hands on to its writer, and asks of it.
class SettlementSink {
public:
    virtual ~SettlementSink() = default;
    // The outcomes once they are final, in source order: rows that went in, once the
    // transaction they went in has committed and the log is on disk up to it; refused rows.
    virtual void Settled(std::size_t first, std::size_t last, long long added) = 0;
    virtual void RowRefused(std::size_t row, const std::exception_ptr& failure) = 0;
    // Whether a refused row handed on now may wait for the user's answer (see WriterListener).
    virtual bool ReportsMayWait() const = 0;
    // The refused rows about to be handed on, all of them, before the first: what they need
    // can be read in one go.
    virtual void RefusalsComing(const std::vector<std::size_t>& rows) = 0;
    // Rows whose commit could not be checked.
    virtual void Unchecked(std::size_t rows) = 0;
    virtual void ThrowIfRunEnds(const std::exception_ptr& failure) = 0;
    virtual void StopPoint() = 0;
    // What is known of a commit in doubt that stored `rows` rows, but its own id and start.
    virtual InDoubtCommit Doubt(std::optional<long long> rows) const = 0;
    // A transaction committed; its outcomes follow.
    virtual void Committed(const CommitRecord& record) = 0;
    // The connection went down with the COMMIT of `record` under way (`in_doubt`; otherwise it
    // never committed): its outcomes are handed on once it proves committed, or left to the
    // ride-out; its `stored` rows count as not checked where no answer comes.
    virtual void CommitLost(bool in_doubt, CommitRecord record, long long stored) = 0;
};

// Hands on every outcome of a committed transaction, in order. A failure on the way (the
// source's session lost while a refused row's values were looked up) comes after all of them:
// rows that committed are counted whatever else goes wrong, and never sent again.
void HandOnAll(SettlementSink& sink, const std::vector<SettledOutcome>& outcomes);

// The destination's side of settling a failed batch (see Settling). Pieces go in a transaction
// of their own, each under a savepoint, with every check made at once rather than left to the
// end (SET CONSTRAINTS ALL IMMEDIATE), as for a row committed on its own; a piece the destination
// refuses is rolled back to its savepoint, and nothing else is lost. So a piece costs no
// transaction of its own (its opening, its settings, its id, its commit). A transaction holds at
// most kPiecesPerTransaction pieces that wrote: past that, the server's cache of
// subtransactions overflows and every other session's snapshots slow down.
//
// Rows one by one go the same way, each under a savepoint of its own, many in one round trip.
class Settlement : public SettlingTarget {
public:
    static constexpr int kPiecesPerTransaction = 64;

    // `by_copy`: pieces go as COPY (otherwise as the rows' INSERT statements).
    Settlement(Connection& destination, EventPacer& pacer, const DestinationTable& table,
               bool by_copy, RowBatch& batch, SourceRowTexts* texts, SettlementSink& sink);
    ~Settlement() override;
    Settlement(const Settlement&) = delete;
    Settlement& operator=(const Settlement&) = delete;

    // Commits what is still open and hands its outcomes on.
    void Finish() { Commit(); }

    PieceResult Piece(std::size_t first, std::size_t last) override;
    PieceResult Alone(std::size_t row) override;
    std::vector<PieceResult> OneByOne(std::size_t first, std::size_t last) override;
    void Stored(std::size_t first, std::size_t last, long long added) override;
    void Refused(std::size_t row, const std::exception_ptr& failure) override;
    // A failure that is no row's ends the run; what went in before it still commits.
    void ThrowIfRunEnds(const std::exception_ptr& failure) override;
    void StopPoint() override { sink_.StopPoint(); }

private:
    using Pending = SettledOutcome;  // waiting for its transaction's commit
    void Begin();
    void Commit();
    // Hands the outcomes on, those of `commit` where it has an id.
    void HandOn(std::vector<Pending>& outcomes, const InDoubtCommit& commit);
    PieceResult CopyPiece(std::size_t first, std::size_t last);
    PieceResult InsertPiece(std::size_t first, std::size_t last);
    // The rows' INSERT statements (a large row held alone lets go of its buffer).
    std::vector<std::string> Statements(std::size_t first, std::size_t last);
    // Rows [first, last) one by one, each under its own savepoint.
    std::vector<PieceResult> SendRows(std::size_t first, std::size_t last);
    // INSERT INTO "<table>" VALUES($1, …), for rows one by one as its parameters.
    std::string PreparedInsert() const;

    bool by_copy_;
    Connection& destination_;
    EventPacer& pacer_;
    const DestinationTable& table_;
    RowBatch& batch_;
    SourceRowTexts* texts_;
    SettlementSink& sink_;
    std::optional<BatchTransaction> transaction_;
    // What the next statement in the transaction begins with: the end of the last piece
    // (released, or rolled back to its savepoint).
    std::vector<std::string> next_;
    int pieces_ = 0;  // pieces that wrote in the open transaction
    // Rows one by one go as one prepared statement, until a refusal shows that the rows' own
    // statements are needed for their words.
    bool prepare_rows_ = true;
    std::vector<Pending> pending_;
};

}  // namespace trp
