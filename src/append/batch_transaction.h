#pragma once

#include <exception>
#include <string>

#include "append/commit_check.h"
#include "db/awaiting.h"

namespace trp {

class Connection;
class EventPacer;
class ResultStream;

// How a batch's transaction opens.
struct TransactionSetup {
    std::string begin = "BEGIN";  // with its isolation level, where it needs one
    std::string snapshot;         // an exported snapshot the transaction reads, if any
    std::string settings;         // its own settings (SetLocally), if any
};

// The one transaction a batch of rows goes in. It opens with its own settings and learns its id,
// its server process and when it began before anything of the rows goes out; it commits or rolls
// back; and when the connection is lost while its COMMIT is under way, it asks a new session what
// became of it, so that no row is sent twice. Whichever way it ends, it leaves the connection idle
// and outside any transaction (unless the connection itself is gone or the program is ending). What
// goes inside (a COPY, INSERT statements, an INSERT … SELECT) is the caller's.
class BatchTransaction {
public:
    BatchTransaction(Connection& connection, EventPacer& pacer, TransactionSetup setup);
    ~BatchTransaction();
    BatchTransaction(const BatchTransaction&) = delete;
    BatchTransaction& operator=(const BatchTransaction&) = delete;

    // Simple protocol: sends one query that opens the transaction and goes on with `statements`
    // (for instance "COPY … FROM STDIN; COMMIT"), so the rows cost no extra round trip.
    void Send(const std::string& statements);
    // Pipeline mode: enters it and sends the opening as statements of their own, with a flush
    // request, so that the id comes back while the caller's statements go out.
    void SendInPipeline();
    // Reads the opening's results. True when the transaction is open and its id known: the
    // results then go on with the caller's first statement. False when the server refused the
    // opening (the failure is the stream's); the transaction is then to be rolled back.
    bool ReadOpening(ResultStream& results);

    // The COMMIT is under way (sent, or the end of the data that runs it): until Ended, a lost
    // connection leaves the transaction's outcome in doubt.
    void CommitUnderWay();
    // The outcome is known: the COMMIT's result was read (`committed`), or a statement before it
    // failed and the transaction is to be rolled back.
    void Ended(bool committed);
    // Sends COMMIT (after `before`, statements of the same query) and awaits it: nullptr when it
    // committed, otherwise the server's failure (a check deferred to the end refused a row; the
    // transaction is then over).
    std::exception_ptr Commit(const std::string& before = {});
    // The same in pipeline mode: COMMIT and the sync, then the COMMIT's result and the sync's.
    std::exception_ptr CommitPipeline(ResultStream& results);

    // Ends what the server still holds open with ROLLBACK and leaves pipeline mode, so that the
    // next statement runs outside any transaction. Throws BrokenConnection when the connection
    // is lost meanwhile, DbError when the server has not answered by the deadline.
    void RollBack(Deadline deadline = {});

    bool InDoubt() const { return state_ == State::Committing; }
    bool Committed() const { return committed_; }
    // After the connection went down with the COMMIT under way: what the server says of it,
    // given what the caller knows of its rows and the server (`known`).
    CommitStatus CheckLostCommit(InDoubtCommit known, const CommitCheckLimits& limits);

    const std::string& Xid() const { return xid_; }
    // The server's clock when the transaction began.
    const std::string& OpenedAt() const { return opened_at_; }

private:
    // How long a transaction given up on the way out of a failure waits for its rollback.
    static constexpr std::chrono::seconds kRollBackOnTheWayOut{10};

    std::string OpeningSelect() const;
    void LeavePipeline();

    enum class State { Idle, Open, Committing, Ended };
    Connection& connection_;
    EventPacer& pacer_;
    TransactionSetup setup_;
    State state_ = State::Idle;
    bool pipeline_ = false;
    bool committed_ = false;
    std::string xid_;
    std::string opened_at_;
};

}  // namespace trp
