#include "append/copy_writer.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>

#include "append/column_types.h"
#include "append/copy_protocol.h"
#include "append/run_failure.h"
#include "append/session_settings.h"
#include "append/skipped_copy_rows.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
CopyWriter::CopyWriter(Connection& destination, DestinationTable table,
                       const AppendOptions& options, EventPacer& pacer, WriterListener& listener,
                       SourceRowTexts* texts)
    : BatchWriter(destination, std::move(table), options.batch_rows, options, pacer, listener,
                  texts),
      writers_(options.writers) {}

CopyWriter::~CopyWriter() {
    CloseChunkSessions();
    // Not on a connection let go of meanwhile.
    if (skipped_ && skipped_->Conn() != destination_.Handle()) skipped_->Release();
}

bool CopyWriter::StartCopy() {
    PGconn* conn = destination_.Handle();
    sent_ = 0;
    ForgetInFlight();
    failure_ = nullptr;
    std::string format = table_.binary ? std::string(" (FORMAT binary)") : table_.copy_options;
    TransactionSetup setup = Setup();
    std::string commit = "; COMMIT";
    if (!table_.binary && table_.server.CopySkipsUnreadableRows() && skipping_pays_) {
        // Rows whose values the columns' types cannot read are skipped, and go alone before the
        // COMMIT for their reports (EndSkippedRows): the rest of the batch need not go again.
        format = SkippingUnreadableRows(format);
        setup.settings +=
            (setup.settings.empty() ? "" : ", ") + SetLocally({{"client_min_messages", "notice"}});
        commit.clear();
        skipped_.emplace(conn);
    }
    transaction_.emplace(destination_, pacer_, setup);
    transaction_->Send("COPY " + table_.quoted_name + " FROM STDIN" + format + commit);
    ResultStream results(conn, pacer_);
    if (transaction_->ReadOpening(results)) {
        PgResultPtr copy = results.Next();
        if (copy && PQresultStatus(copy.get()) == PGRES_COPY_IN) {
            // Each batch is a COPY of its own, so each opens with the binary format's header.
            if (table_.binary) Put(std::string_view(kBinaryCopyHeader, kBinaryCopyHeaderSize));
            return true;
        }
        // The server refused before the data: the rest of the query was skipped.
        while (results.Next()) {
        }
        skipped_.reset();
        failure_ = results.Failure();
        transaction_->Ended(false);
        transaction_->RollBack();
        transaction_.reset();
        if (!failure_) ThrowConnectionFailure(conn);
        ThrowIfRunEnds(failure_);
        return false;
    }
    // Opening a transaction fails for no row's sake.
    while (results.Next()) {
    }
    skipped_.reset();
    const std::exception_ptr failure = results.Failure();
    transaction_->Ended(false);
    transaction_->RollBack();
    transaction_.reset();
    if (!failure) ThrowConnectionFailure(conn);
    std::rethrow_exception(failure);
}

void CopyWriter::Put(std::string_view data) {
    PutCopyData(destination_.Handle(), pacer_, data);
}

CopyWriter::Outcome CopyWriter::EndCopy() {
    PGconn* conn = destination_.Handle();
    BatchTransaction& transaction = *transaction_;
    const std::size_t rows = batch_.Rows();
    streaming_ = false;
    Outcome outcome;
    std::optional<long long> copied;
    const bool skipping = skipped_.has_value();
    std::optional<std::vector<std::size_t>> skipped_lines;
    try {
        // What failed while the batch went on in flight fails it here, as it would have
        // failed it then: a COMMIT already sent is then in doubt.
        const std::exception_ptr pumping = std::exchange(pump_failure_, nullptr);
        if (pumping && !end_sent_) std::rethrow_exception(pumping);
        if (!end_sent_) EndCopyData(conn, pacer_);
        end_sent_ = output_done_ = false;
        // The end of the data runs the COMMIT that follows the COPY in the same query (not
        // after a COPY given up).
        if (!skipping && !withdrawn_) transaction.CommitUnderWay();
        if (pumping) std::rethrow_exception(pumping);
        ResultStream results(conn, pacer_, std::exchange(taken_, {}),
                             std::exchange(results_in_, false));
        std::size_t statements = 0;
        bool committed = false;
        std::optional<std::exception_ptr> in_insert_words;
        while (PgResultPtr result = results.Next()) {
            if (PQresultStatus(result.get()) == PGRES_FATAL_ERROR && !outcome.failed_row) {
                // The row that failed, where the server says which line of the data it was.
                const std::optional<std::size_t> line = FailedCopyLine(
                    PQresultErrorField(result.get(), PG_DIAG_CONTEXT), table_.relation_name);
                if (line && *line >= 1 && *line <= rows) {
                    outcome.failed_row = *line - 1;
                    in_insert_words = InInsertWords(result.get(), table_.relation_name);
                }
            }
            if (results.Failure()) continue;
            if (++statements == 1) copied = std::atoll(PQcmdTuples(result.get()));
            if (statements == 2)
                committed = std::string_view(PQcmdStatus(result.get())) == "COMMIT";
        }
        if (rolling_back_) {
            // A batch that failed in flight: what its ROLLBACK answers.
            ResultStream rollback(conn, pacer_);
            while (rollback.Next()) {
            }
            rolling_back_ = false;
        }
        // A refused COPY skips its COMMIT: nothing of this batch can be committed. A COMMIT
        // that failed for the connection's sake may have committed (a pooler answers for a
        // server it lost, and the connection to it stays).
        outcome.failure = results.Failure();
        if (skipping && !outcome.failure && copied) {
            // The transaction stays open: the skipped rows go before its COMMIT.
            skipped_lines = skipped_->Lines();
        } else {
            if (outcome.failure && !skipping && statements == 1 &&
                LeavesCommitInDoubt(outcome.failure))
                RethrowAsBroken(outcome.failure);
            if (outcome.failure && in_insert_words) {
                outcome.failure = *in_insert_words;
                outcome.failure_is_the_rows = true;
            }
            outcome.committed = committed && !outcome.failure;
            if (outcome.committed) {
                outcome.added = copied.value_or(0);
                outcome.xid = transaction.Xid();
                outcome.opened_at = transaction.OpenedAt();
            }
            transaction.Ended(outcome.committed);
            if (!outcome.committed) transaction.RollBack();
        }
        skipped_.reset();
    } catch (const BrokenConnection&) {
        skipped_.reset();
        Lost(transaction, rows, copied);
        transaction_.reset();
        throw;
    } catch (const WaitAbandoned&) {
        skipped_.reset();
        Abandoned(transaction, rows);
        transaction_.reset();
        throw;
    }
    if (skipped_lines) return EndSkippedRows(rows, *copied, std::move(*skipped_lines));
    transaction_.reset();
    return outcome;
}

bool CopyWriter::CanMoveInsideServer(const ColumnTypes& source_columns) const {
    return !table_.foreign_keys && !source_columns.empty() &&
           SameTypes(source_columns, table_.column_types) &&
           std::all_of(source_columns.begin(), source_columns.end(),
                       [](const ColumnType& column) { return column.exact_in_server; });
}

void CopyWriter::Restart() {
    skipped_.reset();  // before the lost connection is let go of
    BatchWriter::Restart();
    streaming_ = false;
    start_failed_ = false;
    sent_ = 0;
    ForgetInFlight();
}

void CopyWriter::ForgetInFlight() {
    end_sent_ = output_done_ = results_in_ = rolling_back_ = withdrawn_ = awaits_turn_ = false;
    taken_.clear();
    pump_failure_ = nullptr;
}

void CopyWriter::Pump(bool may_end) {
    if (!streaming_ || pump_failure_) return;
    PGconn* conn = destination_.Handle();
    const std::string_view data = batch_.Range(0, batch_.Rows());
    awaits_turn_ = false;
    try {
        while (true) {
            const int pending = PQflush(conn);
            if (pending < 0) ThrowConnectionFailure(conn);
            if (pending == 1) return;
            if (end_sent_) {
                // Then what comes back is taken in: the socket's readiness says nothing else.
                output_done_ = true;
                if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
                TakeResults(conn);
                return;
            }
            int queued = 0;
            if (sent_ < data.size() && !withdrawn_) {
                const std::size_t size = std::min<std::size_t>(data.size() - sent_, 256 * 1024);
                queued = PQputCopyData(conn, data.data() + sent_, static_cast<int>(size));
                if (queued > 0) sent_ += size;
            } else if (may_end || withdrawn_) {
                queued = PQputCopyEnd(conn, withdrawn_ ? "given up, to go again later" : nullptr);
                if (queued > 0) end_sent_ = true;
            } else {
                awaits_turn_ = true;
                return;
            }
            if (queued < 0) ThrowConnectionFailure(conn);
            if (queued == 0) return;
        }
    } catch (const DbError&) {
        pump_failure_ = std::current_exception();
    }
}

void CopyWriter::TakeResults(PGconn* conn) {
    while (!results_in_ && !PQisBusy(conn)) {
        PGresult* result = PQgetResult(conn);
        if (!result) {
            results_in_ = true;
            break;
        }
        taken_.emplace_back(result);
    }
    // A batch that failed ends its transaction at once: it would keep the table's lock, which
    // another client may be queued for ahead of the next batch, until the batch's turn came.
    if (results_in_ && !rolling_back_ && PQtransactionStatus(conn) == PQTRANS_INERROR) {
        if (!PQsendQuery(conn, "ROLLBACK")) ThrowConnectionFailure(conn);
        rolling_back_ = true;
        if (PQflush(conn) < 0) ThrowConnectionFailure(conn);
    }
    while (rolling_back_ && !PQisBusy(conn)) {
        const PgResultPtr result(PQgetResult(conn));
        if (!result) {
            rolling_back_ = false;
            break;
        }
    }
}

bool CopyWriter::PumpSocket(pollfd& socket) const {
    // A batch all sent that waits for its turn to end has nothing to wait for.
    if (!streaming_ || pump_failure_ || awaits_turn_) return false;
    socket.fd = PQsocket(destination_.Handle());
    socket.events = output_done_ ? POLLIN : POLLOUT;
    socket.revents = 0;
    return socket.fd >= 0;
}

bool CopyWriter::Withdraw() {
    if (!streaming_ || end_sent_ || withdrawn_) return false;
    withdrawn_ = true;
    Pump(false);
    return true;
}

void CopyWriter::DropWithdrawn() {
    try {
        SendOnce();
    } catch (const DbError&) {
        // The connection, lost meanwhile, counted nothing of it.
    }
    withdrawn_ = false;
    batch_.Clear();
}

void CopyWriter::Abandon() {
    if (streaming_ && end_sent_ && !withdrawn_) Unchecked(batch_.Rows());
}

void CopyWriter::RowAdded() {
    if (!Streams()) return;  // the batch goes when it is sent
    if (!streaming_) {
        if (start_failed_) return;  // this batch goes in pieces once it is complete
        if (!StartCopy()) {
            start_failed_ = true;
            return;
        }
        streaming_ = true;
    }
    // The rows go out while the next are read, in steps of a quarter of a MiB.
    if (batch_.Bytes() - sent_ >= 256 * 1024) {
        Put(batch_.Range(0, batch_.Rows()).substr(sent_));
        sent_ = batch_.Bytes();
    }
}

CopyWriter::Outcome CopyWriter::SendBatch() {
    while (true) {
        const bool withdrawn = withdrawn_;
        Outcome outcome = SendOnce();
        withdrawn_ = false;
        // Given up for an earlier batch of the team: its turn has come.
        if (!withdrawn) return outcome;
    }
}

CopyWriter::Outcome CopyWriter::SendOnce() {
    Outcome outcome;
    if (!streaming_ && !start_failed_) {
        // Nothing of it went out yet (taken while the destination was lost): all of it now.
        if (StartCopy()) {
            streaming_ = true;
        } else {
            start_failed_ = true;
        }
    }
    if (streaming_) {
        if (!pump_failure_ && !withdrawn_) Put(batch_.Range(0, batch_.Rows()).substr(sent_));
        outcome = EndCopy();
    } else {
        outcome.failure = failure_;
    }
    start_failed_ = false;
    sent_ = 0;
    return outcome;
}

}  // namespace trp
