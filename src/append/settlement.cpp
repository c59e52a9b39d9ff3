#include "append/settlement.h"

#include <cstdlib>

#include "append/copy_protocol.h"
#include "append/destination_writer.h"
#include "append/insert_statement.h"
#include "append/pipeline_results.h"
#include "append/row_batch.h"
#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

const std::vector<std::string> kReleased = {"RELEASE SAVEPOINT piece", "SAVEPOINT piece"};
const std::vector<std::string> kRolledBack = {"ROLLBACK TO SAVEPOINT piece"};

}  // namespace

Settlement::Settlement(Connection& destination, EventPacer& pacer, const DestinationTable& table,
                       bool by_copy, RowBatch& batch, SourceRowTexts* texts, SettlementSink& sink)
    : by_copy_(by_copy),
      destination_(destination),
      pacer_(pacer),
      table_(table),
      batch_(batch),
      texts_(texts),
      sink_(sink) {}

// Whatever is still open was given up on the way out of a failure; its rows count nowhere.
Settlement::~Settlement() = default;

void Settlement::Begin() {
    if (transaction_) return;
    PGconn* conn = destination_.Handle();
    transaction_.emplace(destination_, pacer_, TransactionSetup{"BEGIN", {}, table_.settings});
    transaction_->Send("SET CONSTRAINTS ALL IMMEDIATE; SAVEPOINT piece");
    ResultStream results(conn, pacer_);
    const bool open = transaction_->ReadOpening(results);
    while (results.Next()) {
    }
    if (!open || results.Failure()) {
        // No row's doing: the run cannot go on.
        const std::exception_ptr failure = results.Failure();
        transaction_->Ended(false);
        transaction_->RollBack();
        transaction_.reset();
        if (!failure) ThrowConnectionFailure(conn);
        std::rethrow_exception(failure);
    }
    next_.clear();
    pieces_ = 0;
}

void Settlement::Commit() {
    if (!transaction_) return;
    std::string before;
    for (const std::string& statement : next_) before += statement + "; ";
    long long stored = 0;
    for (const Pending& outcome : pending_)
        if (!outcome.failure) stored += static_cast<long long>(outcome.last - outcome.first);
    CommitRecord record{sink_.Doubt(stored), {}};
    // Each piece wrote under a savepoint: its rows carry the savepoint's id, not this one.
    record.commit.rows.reset();
    record.commit.xid = transaction_->Xid();
    record.commit.opened_at = transaction_->OpenedAt();
    std::exception_ptr refused;
    try {
        refused = transaction_->Commit(before);
    } catch (const BrokenConnection&) {
        const bool in_doubt = transaction_->InDoubt();
        transaction_.reset();
        record.outcomes = std::move(pending_);
        pending_.clear();
        sink_.CommitLost(in_doubt, std::move(record), stored);
        throw;
    } catch (const WaitAbandoned&) {
        if (transaction_->InDoubt()) sink_.Unchecked(static_cast<std::size_t>(stored));
        transaction_.reset();
        pending_.clear();
        throw;
    }
    transaction_.reset();
    if (refused) {
        // Every check was made as the rows went in: a COMMIT refused now is no row's doing.
        pending_.clear();
        std::rethrow_exception(refused);
    }
    HandOn(pending_, record.commit);
}

void HandOnAll(SettlementSink& sink, const std::vector<SettledOutcome>& outcomes) {
    std::vector<std::size_t> refused;
    for (const SettledOutcome& outcome : outcomes)
        if (outcome.failure) refused.push_back(outcome.first);
    if (!refused.empty()) sink.RefusalsComing(refused);
    std::exception_ptr first_failure;
    for (const SettledOutcome& outcome : outcomes) {
        try {
            if (outcome.failure)
                sink.RowRefused(outcome.first, outcome.failure);
            else
                sink.Settled(outcome.first, outcome.last, outcome.added);
        } catch (...) {
            if (!first_failure) first_failure = std::current_exception();
        }
    }
    if (first_failure) std::rethrow_exception(first_failure);
}

void Settlement::HandOn(std::vector<Pending>& outcomes, const InDoubtCommit& commit) {
    std::vector<Pending> ready = std::move(outcomes);
    outcomes.clear();
    if (!commit.xid.empty()) sink_.Committed(CommitRecord{commit, ready});
    HandOnAll(sink_, ready);
}

void Settlement::ThrowIfRunEnds(const std::exception_ptr& failure) {
    if (!failure || ReachOf(failure, table_.row_security) == FailureReach::Row) return;
    if (transaction_ && !next_.empty()) {
        // The writer may ask the catalogue whether the table is still the same: not from a
        // transaction aborted by the failed piece.
        std::string sql;
        for (const std::string& statement : next_) sql += statement + "; ";
        ExecuteAwaited(destination_.Handle(), sql, pacer_);
        next_.clear();
    }
    try {
        sink_.ThrowIfRunEnds(failure);
    } catch (...) {
        try {
            Commit();
        } catch (const DbError&) {
        } catch (const WaitAbandoned&) {
        }
        throw;
    }
}

void Settlement::Stored(std::size_t first, std::size_t last, long long added) {
    if (!transaction_) {
        sink_.Settled(first, last, added);
        return;
    }
    pending_.push_back({first, last, added, nullptr});
    if (++pieces_ >= kPiecesPerTransaction) Commit();
}

void Settlement::Refused(std::size_t row, const std::exception_ptr& failure) {
    if (!transaction_) {
        sink_.RowRefused(row, failure);
        return;
    }
    pending_.push_back({row, row + 1, 0, failure});
}

PieceResult Settlement::Piece(std::size_t first, std::size_t last) {
    return by_copy_ ? CopyPiece(first, last) : InsertPiece(first, last);
}

PieceResult Settlement::Alone(std::size_t row) {
    return InsertPiece(row, row + 1);
}

PieceResult Settlement::CopyPiece(std::size_t first, std::size_t last) {
    Begin();
    PGconn* conn = destination_.Handle();
    std::string sql;
    for (const std::string& statement : next_) sql += statement + "; ";
    // The transaction's opening has set its client encoding: the name as it reads it.
    sql += "COPY " + table_.quoted_name_in_transaction + " FROM STDIN" +
           (table_.binary ? std::string(" (FORMAT binary)") : table_.copy_options);
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer_);
    PgResultPtr copy;
    while ((copy = results.Next()))
        if (PQresultStatus(copy.get()) == PGRES_COPY_IN) break;
    PieceResult result;
    if (!copy) {
        // Refused before the data: no row's doing.
        result.failure = results.Failure();
        if (!result.failure) ThrowConnectionFailure(conn);
        next_ = kRolledBack;
        return result;
    }
    // Each COPY opens with the binary format's header.
    if (table_.binary) PutCopyData(conn, pacer_, {kBinaryCopyHeader, kBinaryCopyHeaderSize});
    PutCopyData(conn, pacer_, batch_.Range(first, last));
    EndCopyData(conn, pacer_);
    std::optional<std::exception_ptr> in_insert_words;
    while (PgResultPtr answer = results.Next()) {
        if (PQresultStatus(answer.get()) == PGRES_FATAL_ERROR && !result.failed_row) {
            // The row that failed, where the server says which line of the data it was.
            const std::optional<std::size_t> line = FailedCopyLine(
                PQresultErrorField(answer.get(), PG_DIAG_CONTEXT), table_.relation_name);
            if (line && *line >= 1 && *line <= last - first) {
                result.failed_row = first + *line - 1;
                in_insert_words = InInsertWords(answer.get(), table_.relation_name);
            }
        } else if (Succeeded(answer.get())) {
            result.added = std::atoll(PQcmdTuples(answer.get()));
        }
    }
    result.failure = results.Failure();
    result.stored = !result.failure;
    if (result.failure && result.failed_row && in_insert_words) {
        result.failure = *in_insert_words;
        result.failure_is_the_rows = true;
    }
    next_ = result.stored ? kReleased : kRolledBack;
    return result;
}

std::vector<std::string> Settlement::Statements(std::size_t first, std::size_t last) {
    std::vector<std::string> statements;
    // A large row held alone goes as its statement: its buffer is let go (only the statement
    // stays, for the record of its refusal).
    if (batch_.Adopted()) {
        std::string sql =
            BuildInsertStatement(table_.quoted_name_in_transaction,
                                 batch_.Texts(0, 1, table_.binary, table_.columns, texts_).front());
        batch_.LetGoOfAdopted();
        statements.push_back(std::move(sql));
        return statements;
    }
    const std::vector<RowValues> values =
        batch_.Texts(first, last, table_.binary, table_.columns, texts_);
    statements.reserve(values.size());
    for (const RowValues& row : values)
        statements.push_back(BuildInsertStatement(table_.quoted_name_in_transaction, row));
    return statements;
}

PieceResult Settlement::InsertPiece(std::size_t first, std::size_t last) {
    Begin();
    PGconn* conn = destination_.Handle();
    std::vector<std::string> statements = Statements(first, last);
    PieceResult result;
    // Each row its own statement of the extended protocol, so that a failure points into its
    // own text exactly as its lone INSERT's would: the failure is the row's report.
    if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
    for (const std::string& statement : next_) SendStatement(conn, statement);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        SendStatement(conn, statements[i]);
        if ((i + 1) % 64 == 0) FlushOutput(conn, pacer_);
    }
    if (batch_.Adopted()) batch_.KeepLetGoStatement(std::move(statements.front()));
    statements.clear();
    if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer_);
    for (std::size_t i = 0; i < next_.size(); ++i) {
        const PgResultPtr ended = NextResult(conn, results);
        if (!Succeeded(ended.get()) && !result.failure)
            result.failure = FailureOf(ended.get(), conn);
    }
    for (std::size_t row = first; row < last; ++row) {
        const PgResultPtr inserted = NextResult(conn, results);
        if (PQresultStatus(inserted.get()) == PGRES_COMMAND_OK) {
            result.added += std::atoll(PQcmdTuples(inserted.get()));
        } else if (!result.failure && PQresultStatus(inserted.get()) != PGRES_PIPELINE_ABORTED) {
            result.failed_row = row;
            result.failure = FailureOf(inserted.get(), conn);
            result.failure_is_the_rows = true;
        }
    }
    std::exception_ptr after;
    AwaitSync(conn, results, after);
    PQexitPipelineMode(conn);
    result.stored = !result.failure;
    next_ = result.stored ? kReleased : kRolledBack;
    return result;
}

}  // namespace trp
