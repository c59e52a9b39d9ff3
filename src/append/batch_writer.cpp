#include "append/batch_writer.h"

#include <cstdlib>

#include "append/binary_row.h"
#include "append/commit_check.h"
#include "append/copy_text_codec.h"
#include "append/event_pacer.h"
#include "append/insert_statement.h"
#include "append/run_failure.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

using Clock = std::chrono::steady_clock;

// A batch that has been open this long is sent, so that the bar, which follows committed rows,
// keeps moving while rows come in slowly.
constexpr std::chrono::milliseconds kBatchTime{500};

void SendStatement(PGconn* conn, const std::string& sql) {
    if (!PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0))
        ThrowConnectionFailure(conn);
}

// The result of the next statement in a pipeline, and the end of its results.
PgResultPtr NextResult(PGconn* conn, ResultStream& results) {
    PgResultPtr result = results.Next();
    if (!result) ThrowConnectionFailure(conn);
    while (results.Next()) {
    }
    return result;
}

// The batch is done with, whichever way its sending ends.
struct ClearOnExit {
    RowBatch& batch;
    ~ClearOnExit() { batch.Clear(); }
};

}  // namespace

BatchWriter::BatchWriter(Connection& destination, DestinationTable table, std::size_t max_rows,
                         const AppendOptions& options, EventPacer& pacer, WriterListener& listener)
    : destination_(destination),
      table_(std::move(table)),
      pacer_(pacer),
      max_rows_(max_rows == 0 ? 1 : max_rows),
      max_bytes_(options.batch_bytes),
      commit_check_(options.commit_check),
      listener_(listener) {}

void BatchWriter::Add(std::string_view line) {
    if (batch_.Rows() == 0) batch_started_ = Clock::now();
    batch_.Append(line, table_.binary);
    RowAdded();
    const std::size_t rows = batch_.Rows();
    if (rows >= max_rows_ || batch_.Bytes() >= max_bytes_ ||
        (rows % 64 == 0 && Clock::now() - batch_started_ >= kBatchTime))
        Flush();
}

void BatchWriter::AddLarge(PqBuffer buffer, std::string_view row) {
    // A batch of its own, held where libpq put it rather than copied.
    Flush();
    batch_started_ = Clock::now();
    batch_.Adopt(std::move(buffer), row, table_.binary);
    RowAdded();
    Flush();
}

void BatchWriter::Finish() {
    Flush();
}

void BatchWriter::FinishInFlight() {
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    ClearOnExit clear{batch_};
    try {
        const Outcome outcome = SendBatch();
        if (outcome.committed) {
            tally_.settled += static_cast<long long>(rows);
            tally_.added += outcome.added;
        } else {
            RollBackIfOpen();
        }
    } catch (const DbError&) {
        // Nothing more is shown: the program is ending.
    }
}

void BatchWriter::Flush() {
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    ClearOnExit clear{batch_};
    Resolve(0, rows, SendBatch());
}

void BatchWriter::Resolve(std::size_t first, std::size_t last, const Outcome& outcome) {
    if (outcome.committed) {
        Committed(last - first, outcome.added);
        return;
    }
    ThrowIfRunEnds(outcome.failure);
    if (outcome.lone_insert) {
        Refused(first, outcome.failure);
        return;
    }
    if (outcome.failed_row && *outcome.failed_row >= first && *outcome.failed_row < last) {
        // The rows before the failing one went through in this very order already.
        const std::size_t failed = *outcome.failed_row;
        Settle(first, failed);
        SendSingle(failed);
        SettleHalves(failed + 1, last);
    } else {
        SettleHalves(first, last);
    }
}

void BatchWriter::Settle(std::size_t first, std::size_t last) {
    if (first >= last) return;
    if (last - first == 1) {
        SendSingle(first);
        return;
    }
    StopPoint();
    Resolve(first, last, Send(first, last));
}

void BatchWriter::SettleHalves(std::size_t first, std::size_t last) {
    if (first >= last) return;
    const std::size_t middle = first + (last - first + 1) / 2;
    Settle(first, middle);
    Settle(middle, last);
}

void BatchWriter::SendSingle(std::size_t row) {
    StopPoint();
    Resolve(row, row + 1, SendInserts(row, row + 1));
}

void BatchWriter::Committed(std::size_t rows, long long added) {
    tally_.settled += static_cast<long long>(rows);
    tally_.added += added;
    listener_.Progressed(tally_);
}

void BatchWriter::Refused(std::size_t row, const std::exception_ptr& failure) {
    // Rows settle in source order, so the rows settled before this one are those before it.
    const RefusedRow refused{Readable(failure), RefusedValues(row), tally_.settled + 1};
    ++tally_.settled;
    // The report comes before the bar passes the row.
    if (!listener_.RowRefused(refused)) throw AppendStopped();
    listener_.Progressed(tally_);
}

std::optional<RowValues> BatchWriter::RefusedValues(std::size_t row) {
    if (std::optional<RowValues> kept = batch_.TakeLetGoValues()) return kept;
    try {
        return TextValues(row);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        return std::nullopt;
    }
}

void BatchWriter::StopPoint() const {
    if (pacer_.Ending()) throw AppendStopped();
}

void BatchWriter::ThrowIfRunEnds(const std::exception_ptr& failure) {
    if (failure && EndsTheRun(failure, table_.row_security))
        std::rethrow_exception(Readable(failure));
}

std::exception_ptr BatchWriter::Readable(const std::exception_ptr& failure) {
    if (!table_.messages_in_server_encoding) return failure;
    PGconn* conn = destination_.Handle();
    if (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) != PQTRANS_IDLE)
        return failure;
    try {
        std::rethrow_exception(failure);
    } catch (const BrokenConnection&) {
        return failure;
    } catch (const DbError& error) {
        // The server converts with its own tables, whatever the database's encoding.
        try {
            const PgResultPtr converted =
                ExecuteAwaited(conn,
                               "SELECT convert(" + ByteaLiteral(conn, error.what()) +
                                   ", current_setting('server_encoding'), 'UTF8')",
                               pacer_);
            return std::make_exception_ptr(
                DbError(UnescapeBytea(PQgetvalue(converted.get(), 0, 0)), error.sqlstate()));
        } catch (const DbError&) {
            return failure;
        }
    } catch (...) {
        return failure;
    }
}

void BatchWriter::RollBackIfOpen() {
    PGconn* conn = destination_.Handle();
    if (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) == PQTRANS_IDLE) return;
    ExecuteAwaited(conn, "ROLLBACK", pacer_);
}

void BatchWriter::CommitLost(const std::string& xid, std::size_t rows) {
    // Nobody would see the answer of a program that is ending.
    if (pacer_.Ending()) return;
    const CommitStatus status =
        xid.empty() ? CommitStatus::Unknown
                    : CheckCommit(destination_.ConnectionString(), xid, pacer_, commit_check_);
    switch (status) {
        case CommitStatus::Committed:
            Committed(rows, static_cast<long long>(rows));
            break;
        case CommitStatus::Aborted:
            break;
        case CommitStatus::Unknown:
            tally_.unchecked += static_cast<long long>(rows);
            break;
    }
}

RowValues BatchWriter::TextValues(std::size_t row) {
    if (table_.binary)
        return TextForms(destination_.Handle(), pacer_, batch_.Row(row), table_.column_types);
    return table_.columns == 0 ? RowValues{} : DecodeCopyLine(batch_.Row(row));
}

BatchWriter::Outcome BatchWriter::SendInserts(std::size_t first, std::size_t last) {
    const bool lone = last - first == 1;
    std::vector<RowValues> rows;
    if (table_.binary) {
        // Binary rows are turned into text before the statements go out.
        try {
            for (std::size_t row = first; row < last; ++row) rows.push_back(TextValues(row));
        } catch (const BrokenConnection&) {
            throw;
        } catch (const DbError&) {
            Outcome refused;
            refused.lone_insert = lone;
            refused.failure = std::current_exception();
            return refused;
        }
    }
    BeginInserts();
    for (std::size_t row = first; row < last; ++row) {
        SendInsert(row, table_.binary ? &rows[row - first] : nullptr, lone);
        pacer_.Tick();
    }
    return EndInserts(first, last);
}

void BatchWriter::BeginInserts() {
    PGconn* conn = destination_.Handle();
    if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
    SendStatement(conn, "BEGIN");
    SendStatement(conn, "SELECT pg_current_xact_id()");
    // The server sends the id at once, while the rows are still going out.
    if (!PQsendFlushRequest(conn)) ThrowConnectionFailure(conn);
    inserts_sent_ = 0;
}

void BatchWriter::SendInsert(std::size_t row, const RowValues* values, bool lone) {
    PGconn* conn = destination_.Handle();
    // The values are let go before the statement is handed to libpq: a value may be large. So
    // is a large row held alone: once its own statement is written, nothing sends it again
    // (refused, it is reported; committed, it is done). Only its values stay, for the record
    // of a refusal.
    std::string sql;
    {
        RowValues text = values ? RowValues() : TextValues(row);
        sql = BuildInsertStatement(table_.quoted_name, values ? *values : text);
        if (lone && batch_.Adopted())
            batch_.LetGoOfAdopted(values ? RowValues(*values) : std::move(text));
    }
    SendStatement(conn, sql);
    if (++inserts_sent_ % 64 == 0) FlushOutput(conn, pacer_);
}

BatchWriter::Outcome BatchWriter::EndInserts(std::size_t first, std::size_t last) {
    PGconn* conn = destination_.Handle();
    Outcome outcome;
    outcome.lone_insert = last - first == 1;
    std::string xid;
    bool committing = false;
    ResultStream results(conn, pacer_);
    const auto note = [&](const PGresult* result, std::optional<std::size_t> row) {
        try {
            CheckResult(result, conn);
        } catch (const DbError&) {
            // The first failure names its row; the statements after it are skipped.
            if (!outcome.failure && PQresultStatus(result) != PGRES_PIPELINE_ABORTED) {
                outcome.failure = std::current_exception();
                outcome.failed_row = row;
            }
            return false;
        }
        return true;
    };
    try {
        bool begun = note(NextResult(conn, results).get(), std::nullopt);
        PgResultPtr id = NextResult(conn, results);
        if (begun && note(id.get(), std::nullopt)) xid = PQgetvalue(id.get(), 0, 0);
        // The COMMIT goes out only once its transaction's id is known.
        if (!xid.empty()) SendStatement(conn, "COMMIT");
        if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
        committing = !xid.empty();
        for (std::size_t row = first; row < last; ++row) {
            const PgResultPtr result = NextResult(conn, results);
            if (note(result.get(), row))
                outcome.added += std::atoll(PQcmdTuples(result.get()));
            else
                committing = false;
        }
        if (!xid.empty()) {
            // A deferred check fails here; it is the row's own when the row went alone.
            note(NextResult(conn, results).get(),
                 outcome.lone_insert ? std::optional(first) : std::nullopt);
        }
        // From here on the outcome is known, whatever becomes of the connection.
        committing = false;
        outcome.committed = !outcome.failure;
        PgResultPtr sync = results.Next();
        if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC)
            ThrowConnectionFailure(conn);
    } catch (const BrokenConnection&) {
        if (outcome.committed) {
            Committed(last - first, outcome.added);
        } else if (committing) {
            CommitLost(xid, last - first);
        }
        throw;
    }
    if (PQpipelineStatus(conn) != PQ_PIPELINE_OFF) PQexitPipelineMode(conn);
    if (!outcome.committed) RollBackIfOpen();
    return outcome;
}

}  // namespace trp
