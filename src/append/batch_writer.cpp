#include "append/batch_writer.h"

#include <cstdlib>

#include "append/column_types.h"
#include "append/copy_text_codec.h"
#include "append/insert_statement.h"
#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
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

// A failure that ends the run whatever its SQLSTATE says.
std::exception_ptr AsRunFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& error) {
        return std::make_exception_ptr(DbError(error.what()));
    } catch (...) {
        return std::current_exception();
    }
}

// The batch is done with, whichever way its sending ends.
struct ClearOnExit {
    RowBatch& batch;
    ~ClearOnExit() { batch.Clear(); }
};

}  // namespace

BatchWriter::BatchWriter(Connection& destination, DestinationTable table, std::size_t max_rows,
                         const AppendOptions& options, EventPacer& pacer, WriterListener& listener,
                         SourceRowTexts* texts)
    : destination_(destination),
      table_(std::move(table)),
      pacer_(pacer),
      max_rows_(max_rows == 0 ? 1 : max_rows),
      max_bytes_(options.batch_bytes),
      commit_check_(options.commit_check),
      listener_(listener),
      texts_(texts),
      watched_(destination.Handle()) {
    pacer_.Watch(watched_, destination.ConnectionString());
}

BatchWriter::~BatchWriter() {
    pacer_.Unwatch(watched_);
}

void BatchWriter::Add(std::string_view line, const RowLocator& at) {
    if (batch_.Rows() == 0) batch_started_ = Clock::now();
    batch_.Append(line, table_.binary, at);
    RowAdded();
    const std::size_t rows = batch_.Rows();
    if (rows >= max_rows_ || batch_.Bytes() >= max_bytes_ ||
        (rows % 64 == 0 && Clock::now() - batch_started_ >= kBatchTime))
        Flush();
}

void BatchWriter::AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) {
    // A batch of its own, held where libpq put it rather than copied.
    Flush();
    batch_started_ = Clock::now();
    batch_.Adopt(std::move(buffer), row, table_.binary, at);
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
    if (stop_after_batch_) throw AppendStopped();
}

TransactionSetup BatchWriter::Setup(std::string begin, std::string snapshot) const {
    return TransactionSetup{std::move(begin), std::move(snapshot), table_.settings};
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
    if (!listener_.RowRefused(refused)) stop_after_batch_ = true;
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
    // A program that ends after a stop still settles the batch it sent, within the grace.
    if (pacer_.Ending() && !stop_after_batch_) throw AppendStopped();
}

void BatchWriter::ThrowIfRunEnds(const std::exception_ptr& failure) {
    if (!failure) return;
    switch (ReachOf(failure, table_.row_security)) {
        case FailureReach::Row:
            return;
        case FailureReach::Table:
            if (!TableChanged()) return;
            break;
        case FailureReach::Run:
            break;
    }
    std::rethrow_exception(Readable(failure));
}

bool BatchWriter::TableChanged() {
    // Without the shape the run started with, nothing tells a row's failure from the table's.
    if (table_.column_types.empty()) return true;
    try {
        const PgResultPtr shape = ExecuteAwaited(
            destination_.Handle(), ColumnTypesQuery(destination_, table_.quoted_name), pacer_);
        return !SameTypes(ReadColumnTypes(shape.get()), table_.column_types);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        return true;  // not found under its name any more
    }
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

void BatchWriter::Lost(BatchTransaction& transaction, std::size_t rows,
                       std::optional<long long> added) {
    const auto count = [&] { Committed(rows, added.value_or(static_cast<long long>(rows))); };
    if (transaction.Committed()) {
        count();
        return;
    }
    // Nobody would see the answer of a program that is ending.
    if (!transaction.InDoubt() || pacer_.Ending()) return;
    switch (transaction.CheckLostCommit(commit_check_)) {
        case CommitStatus::Committed:
            count();
            break;
        case CommitStatus::Aborted:
            break;
        case CommitStatus::Unknown:
            tally_.unchecked += static_cast<long long>(rows);
            break;
    }
}

RowValues BatchWriter::TextValues(std::size_t row) {
    if (table_.binary) {
        if (!texts_) throw DbError("the source's text of a binary row is not at hand");
        return texts_->Texts(batch_.Locator(row));
    }
    return table_.columns == 0 ? RowValues{} : DecodeCopyLine(batch_.Row(row));
}

BatchWriter::Outcome BatchWriter::SendInserts(std::size_t first, std::size_t last) {
    const bool lone = last - first == 1;
    std::vector<RowValues> rows;
    // Binary rows are read again as text before the statements go out: a failure to read one
    // is the run's, not the row's.
    if (table_.binary)
        for (std::size_t row = first; row < last; ++row) rows.push_back(TextValues(row));
    BeginInserts();
    for (std::size_t row = first; row < last; ++row) {
        SendInsert(row, table_.binary ? &rows[row - first] : nullptr, lone);
        pacer_.Tick();
    }
    return EndInserts(first, last);
}

void BatchWriter::BeginInserts() {
    transaction_.emplace(destination_, pacer_, Setup());
    transaction_->SendInPipeline();
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
        sql = BuildInsertStatement(table_.quoted_name_in_transaction, values ? *values : text);
        if (lone && batch_.Adopted())
            batch_.LetGoOfAdopted(values ? RowValues(*values) : std::move(text));
    }
    SendStatement(conn, sql);
    if (++inserts_sent_ % 64 == 0) FlushOutput(conn, pacer_);
}

BatchWriter::Outcome BatchWriter::EndInserts(std::size_t first, std::size_t last) {
    PGconn* conn = destination_.Handle();
    BatchTransaction& transaction = *transaction_;
    Outcome outcome;
    outcome.lone_insert = last - first == 1;
    ResultStream results(conn, pacer_);
    try {
        // The statements' results come back before anything commits.
        if (!PQsendFlushRequest(conn)) ThrowConnectionFailure(conn);
        const bool open = transaction.ReadOpening(results);
        for (std::size_t row = first; row < last; ++row) {
            const PgResultPtr result = NextResult(conn, results);
            if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) {
                outcome.added += std::atoll(PQcmdTuples(result.get()));
            } else if (!outcome.failed_row &&
                       PQresultStatus(result.get()) != PGRES_PIPELINE_ABORTED) {
                // The first failure names its row; the statements after it are skipped.
                outcome.failed_row = row;
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
            if (outcome.failure && outcome.lone_insert) outcome.failed_row = first;
        } else {
            transaction.Ended(false);
            transaction.RollBack();
        }
    } catch (const BrokenConnection&) {
        Lost(transaction, last - first, outcome.added);
        transaction_.reset();
        throw;
    }
    transaction_.reset();
    return outcome;
}

}  // namespace trp
