#include "append/batch_transaction.h"

#include <cstdlib>

#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/server_version.h"

namespace trp {
BatchTransaction::BatchTransaction(Connection& connection, EventPacer& pacer,
                                   TransactionSetup setup)
    : connection_(connection), pacer_(pacer), setup_(std::move(setup)) {}

BatchTransaction::~BatchTransaction() {
    if (state_ == State::Idle || state_ == State::Ended) return;
    try {
        // Only on the way out of a failure: a server that does not answer soon has failed the
        // run already, and its session ends with the connection.
        if (!pacer_.Ending()) RollBack(std::chrono::steady_clock::now() + kRollBackOnTheWayOut);
    } catch (...) {
        // A connection that fails now has failed the run already.
    }
}

std::string BatchTransaction::OpeningSelect() const {
    std::string select = "SELECT ";
    if (!setup_.settings.empty()) select += setup_.settings + ", ";
    return select + ServerVersion::Of(connection_.Handle()).CurrentTransactionId() +
           ", pg_backend_pid(), statement_timestamp()::text";
}

void BatchTransaction::Send(const std::string& statements) {
    PGconn* conn = connection_.Handle();
    std::string sql = setup_.begin + "; ";
    // It must come first in the transaction.
    if (!setup_.snapshot.empty())
        sql += "SET TRANSACTION SNAPSHOT " + QuoteLiteral(setup_.snapshot) + "; ";
    sql += OpeningSelect() + "; " + statements;
    state_ = State::Open;
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
}

void BatchTransaction::SendInPipeline() {
    PGconn* conn = connection_.Handle();
    if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
    pipeline_ = true;
    state_ = State::Open;
    SendStatement(conn, setup_.begin);
    if (!setup_.snapshot.empty())
        SendStatement(conn, "SET TRANSACTION SNAPSHOT " + QuoteLiteral(setup_.snapshot));
    SendStatement(conn, OpeningSelect());
    if (!PQsendFlushRequest(conn)) ThrowConnectionFailure(conn);
}

bool BatchTransaction::ReadOpening(ResultStream& results) {
    PGconn* conn = connection_.Handle();
    const int statements = setup_.snapshot.empty() ? 2 : 3;
    bool open = true;
    for (int statement = 0; statement < statements; ++statement) {
        PgResultPtr result = results.Next();
        if (!result) {
            // The simple protocol ends the query's results at its first failure.
            if (!pipeline_ && results.Failure()) return false;
            ThrowConnectionFailure(conn);
        }
        // In a pipeline each statement's results end with a null of their own.
        if (pipeline_)
            while (results.Next()) {
            }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            open = false;
            if (!pipeline_) return false;
            continue;
        }
        if (statement == statements - 1) {
            const int columns = PQnfields(result.get());
            xid_ = PQgetvalue(result.get(), 0, columns - 3);
            pacer_.ServerProcess(conn, std::atoi(PQgetvalue(result.get(), 0, columns - 2)));
            opened_at_ = PQgetvalue(result.get(), 0, columns - 1);
        }
    }
    return open;
}

void BatchTransaction::CommitUnderWay() {
    state_ = State::Committing;
}

void BatchTransaction::Ended(bool committed) {
    committed_ = committed;
    state_ = committed ? State::Ended : State::Open;
    // A transaction that did not commit may still be open on the server (a refused statement
    // leaves it aborted); RollBack ends it.
    if (!committed && PQtransactionStatus(connection_.Handle()) == PQTRANS_IDLE)
        state_ = State::Ended;
}

std::exception_ptr BatchTransaction::Commit(const std::string& before) {
    PGconn* conn = connection_.Handle();
    CommitUnderWay();
    if (!PQsendQuery(conn, (before + "COMMIT").c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer_);
    PgResultPtr last;
    while (PgResultPtr result = results.Next()) last = std::move(result);
    // A transaction that had failed would answer ROLLBACK without an error.
    const bool committed =
        !results.Failure() && last && std::string_view(PQcmdStatus(last.get())) == "COMMIT";
    if (results.Failure() && LeavesCommitInDoubt(results.Failure()))
        RethrowAsBroken(results.Failure());
    Ended(committed);
    if (committed || results.Failure()) return results.Failure();
    return std::make_exception_ptr(DbError("the transaction was rolled back"));
}

std::exception_ptr BatchTransaction::CommitPipeline(ResultStream& results) {
    PGconn* conn = connection_.Handle();
    CommitUnderWay();
    SendStatement(conn, "COMMIT");
    if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
    PgResultPtr commit = results.Next();
    if (!commit) ThrowConnectionFailure(conn);
    while (results.Next()) {
    }
    const bool committed = PQresultStatus(commit.get()) == PGRES_COMMAND_OK &&
                           std::string_view(PQcmdStatus(commit.get())) == "COMMIT";
    std::exception_ptr failure;
    if (!committed) {
        try {
            CheckResult(commit.get(), conn);
            throw DbError("the transaction was rolled back");
        } catch (const DbError&) {
            failure = std::current_exception();
        }
        // A pooler answers for a server it lost, and the connection to it stays.
        if (LeavesCommitInDoubt(failure)) RethrowAsBroken(failure);
    }
    // From here on the outcome is known, whatever becomes of the connection.
    committed_ = committed;
    state_ = State::Ended;
    PgResultPtr sync = results.Next();
    if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) ThrowConnectionFailure(conn);
    LeavePipeline();
    return failure;
}

void BatchTransaction::LeavePipeline() {
    PGconn* conn = connection_.Handle();
    if (pipeline_ && PQpipelineStatus(conn) != PQ_PIPELINE_OFF) PQexitPipelineMode(conn);
    pipeline_ = false;
}

void BatchTransaction::RollBack(Deadline deadline) {
    PGconn* conn = connection_.Handle();
    if (PQstatus(conn) != CONNECTION_OK) {
        state_ = State::Ended;
        return;
    }
    if (pipeline_ && PQpipelineStatus(conn) != PQ_PIPELINE_OFF) {
        // Whatever is still queued is skipped up to a sync: then the pipeline can be left.
        if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
        ResultStream results(conn, pacer_, deadline);
        while (true) {
            PgResultPtr result = results.Next();
            if (result && PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC && !PQisBusy(conn) &&
                PQexitPipelineMode(conn))
                break;
            if (!result && PQpipelineStatus(conn) == PQ_PIPELINE_OFF) break;
        }
        pipeline_ = false;
    }
    const PGTransactionStatusType status = PQtransactionStatus(conn);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR)
        ExecuteAwaited(conn, "ROLLBACK", pacer_, deadline);
    state_ = State::Ended;
}

CommitStatus BatchTransaction::CheckLostCommit(InDoubtCommit known,
                                               const CommitCheckLimits& limits) {
    known.xid = xid_;
    known.opened_at = opened_at_;
    return CheckCommit(connection_.ConnectionString(), known, pacer_, limits);
}

}  // namespace trp
