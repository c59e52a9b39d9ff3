#include "append/pipelined_insert_writer.h"

#include <cstdlib>

#include "append/insert_statement.h"
#include "append/pipeline_results.h"
#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {

void PipelinedInsertWriter::RowAdded() {
    // A large row alone, and a batch taken while the destination was lost, go when sent.
    if (batch_.Adopted() || !Streams()) return;
    if (!streaming_) {
        BeginInserts();
        streaming_ = true;
    }
    SendInsert(batch_.Rows() - 1);
}

BatchWriter::Outcome PipelinedInsertWriter::SendBatch() {
    if (!streaming_) return SendInserts();
    streaming_ = false;
    return EndInserts();
}

BatchWriter::Outcome PipelinedInsertWriter::SendInserts() {
    BeginInserts();
    for (std::size_t row = 0; row < batch_.Rows(); ++row) {
        SendInsert(row);
        pacer_.Tick();
    }
    return EndInserts();
}

void PipelinedInsertWriter::BeginInserts() {
    transaction_.emplace(destination_, pacer_, Setup());
    transaction_->SendInPipeline();
    inserts_sent_ = 0;
}

void PipelinedInsertWriter::SendInsert(std::size_t row) {
    PGconn* conn = destination_.Handle();
    // Rows in COPY's text format: no binary row takes this way.
    std::string sql =
        BuildInsertStatement(table_.quoted_name_in_transaction,
                             batch_.Texts(row, row + 1, false, table_.columns, nullptr).front());
    // A large row held alone lets go of its buffer before its statement is handed to libpq:
    // once written, nothing sends it again (refused, its failure is its report; committed, it
    // is done). Only its statement stays, for the record of a refusal.
    const bool alone = batch_.Adopted();
    if (alone) batch_.LetGoOfAdopted();
    SendStatement(conn, sql);
    if (alone) batch_.KeepLetGoStatement(std::move(sql));
    if (++inserts_sent_ % 64 == 0) {
        FlushOutput(conn, pacer_);
        // The statements' results are taken in as they come, so that the server can always get
        // rid of them, also while the program waits for the source's next rows.
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
}

BatchWriter::Outcome PipelinedInsertWriter::EndInserts() {
    PGconn* conn = destination_.Handle();
    BatchTransaction& transaction = *transaction_;
    const std::size_t rows = batch_.Rows();
    Outcome outcome;
    ResultStream results(conn, pacer_);
    try {
        // The statements' results come back before anything commits.
        if (!PQsendFlushRequest(conn)) ThrowConnectionFailure(conn);
        const bool open = transaction.ReadOpening(results);
        for (std::size_t row = 0; row < rows; ++row) {
            const PgResultPtr result = NextResult(conn, results);
            if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) {
                outcome.added += std::atoll(PQcmdTuples(result.get()));
            } else if (!outcome.failed_row &&
                       PQresultStatus(result.get()) != PGRES_PIPELINE_ABORTED) {
                // The first failure names its row, in its own statement's words; the
                // statements after it are skipped.
                outcome.failed_row = row;
                outcome.failure_is_the_rows = true;
            }
        }
        outcome.failure = results.Failure();
        if (!open) {
            // Opening a transaction fails for no row's sake: the run cannot go on.
            transaction.Ended(false);
            transaction.RollBack();
            transaction_.reset();
            std::rethrow_exception(Readable(AsRunFailure(outcome.failure)));
        }
        if (!outcome.failure) {
            // A deferred check fails here; it is the row's own when the row went alone.
            outcome.failure = transaction.CommitPipeline(results);
            outcome.committed = !outcome.failure;
            outcome.xid = transaction.Xid();
            outcome.opened_at = transaction.OpenedAt();
            if (outcome.failure && rows == 1) {
                outcome.failed_row = 0;
                outcome.failure_is_the_rows = true;
            }
        } else {
            transaction.Ended(false);
            transaction.RollBack();
        }
    } catch (const BrokenConnection&) {
        Lost(transaction, rows, outcome.added);
        transaction_.reset();
        throw;
    } catch (const WaitAbandoned&) {
        Abandoned(transaction, rows);
        transaction_.reset();
        throw;
    }
    transaction_.reset();
    return outcome;
}

}  // namespace trp
