#include "append/copy_writer.h"

#include <poll.h>

#include <cstdlib>

#include "append/column_types.h"
#include "append/event_pacer.h"
#include "append/run_failure.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

constexpr std::size_t kStreamChunk = 256 * 1024;

}  // namespace

CopyWriter::CopyWriter(Connection& destination, DestinationTable table,
                       const AppendOptions& options, EventPacer& pacer, WriterListener& listener)
    : BatchWriter(destination, std::move(table), options.batch_rows, options, pacer, listener) {}

bool CopyWriter::StartCopy() {
    PGconn* conn = destination_.Handle();
    sent_ = 0;
    xid_.clear();
    failure_ = nullptr;
    const std::string format =
        table_.binary ? std::string(" (FORMAT binary)") : table_.copy_options;
    const std::string sql = "BEGIN; SELECT pg_current_xact_id(); COPY " + table_.quoted_name +
                            " FROM STDIN" + format + "; COMMIT";
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer_);
    while (PgResultPtr result = results.Next()) {
        const auto status = PQresultStatus(result.get());
        if (status == PGRES_COPY_IN) {
            // Each batch is a COPY of its own, so each opens with the binary format's header.
            if (table_.binary) Put(std::string_view(kBinaryCopyHeader, kBinaryCopyHeaderSize));
            return true;
        }
        if (status == PGRES_TUPLES_OK) xid_ = PQgetvalue(result.get(), 0, 0);
    }
    failure_ = results.Failure();
    // The server refused before the data: the rest of the query was skipped.
    RollBackIfOpen();
    if (!failure_) ThrowConnectionFailure(conn);
    ThrowIfRunEnds(failure_);
    return false;
}

void CopyWriter::Put(std::string_view data) {
    PGconn* conn = destination_.Handle();
    while (!data.empty()) {
        const int size = static_cast<int>(std::min<std::size_t>(data.size(), kStreamChunk));
        const int queued = PQputCopyData(conn, data.data(), size);
        if (queued < 0) ThrowConnectionFailure(conn);
        if (queued > 0) data.remove_prefix(static_cast<std::size_t>(size));
        // libpq would take everything and hold it while a slow network drains: it holds one
        // chunk at most, and the rows wait in the batch, which holds them anyway.
        FlushOutput(conn, pacer_);
    }
}

CopyWriter::Outcome CopyWriter::EndCopy(std::size_t rows) {
    PGconn* conn = destination_.Handle();
    streaming_ = false;
    Outcome outcome;
    bool committing = false;
    try {
        while (true) {
            const int ended = PQputCopyEnd(conn, nullptr);
            if (ended < 0) ThrowConnectionFailure(conn);
            if (ended == 1) break;
            pacer_.WaitSocket(conn, POLLOUT | POLLIN);
            if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
        }
        // The end of the data runs the COMMIT that follows the COPY in the same query.
        committing = true;
        ResultStream results(conn, pacer_);
        std::size_t statements = 0;
        while (PgResultPtr result = results.Next()) {
            if (++statements == 1) outcome.added = std::atoll(PQcmdTuples(result.get()));
            // A refused COPY skips its COMMIT: nothing of this batch can be committed.
            if (results.Failure()) committing = false;
        }
        outcome.failure = results.Failure();
        committing = false;
        outcome.committed = !outcome.failure && statements == 2;
    } catch (const BrokenConnection&) {
        if (committing) CommitLost(xid_, rows);
        throw;
    }
    if (!outcome.committed) RollBackIfOpen();
    return outcome;
}

bool CopyWriter::CanMoveInsideServer(const ColumnTypes& source_columns) const {
    return !table_.foreign_keys && !source_columns.empty() &&
           SameTypes(source_columns, table_.column_types);
}

bool CopyWriter::MoveInsideServer(const std::string& select, const std::string& snapshot) {
    Finish();  // rows taken earlier go first
    PGconn* conn = destination_.Handle();
    // The id is known before the COMMIT is sent, and so is the number of rows.
    const PgResultPtr begun =
        ExecuteAwaited(conn,
                       "BEGIN ISOLATION LEVEL REPEATABLE READ; SET TRANSACTION SNAPSHOT " +
                           QuoteLiteral(snapshot) + "; SELECT pg_current_xact_id()",
                       pacer_);
    const std::string xid = PQgetvalue(begun.get(), 0, 0);
    long long rows = 0;
    try {
        const PgResultPtr inserted =
            ExecuteAwaited(conn, "INSERT INTO " + table_.quoted_name + " " + select, pacer_);
        rows = std::atoll(PQcmdTuples(inserted.get()));
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        const std::exception_ptr refused = std::current_exception();
        RollBackIfOpen();
        ThrowIfRunEnds(refused);
        return false;
    }
    try {
        ExecuteAwaited(conn, "COMMIT", pacer_);
    } catch (const BrokenConnection&) {
        CommitLost(xid, static_cast<std::size_t>(rows));
        throw;
    } catch (const DbError&) {
        // A check left to the end of the transaction refused one of the rows.
        ThrowIfRunEnds(std::current_exception());
        return false;
    }
    Committed(static_cast<std::size_t>(rows), rows);
    return true;
}

void CopyWriter::RowAdded() {
    if (!streaming_) {
        if (start_failed_) return;  // this batch goes in pieces once it is complete
        if (!StartCopy()) {
            start_failed_ = true;
            return;
        }
        streaming_ = true;
    }
    if (batch_.Bytes() - sent_ >= kStreamChunk) {
        Put(batch_.Range(0, batch_.Rows()).substr(sent_));
        sent_ = batch_.Bytes();
    }
}

CopyWriter::Outcome CopyWriter::SendBatch() {
    Outcome outcome;
    if (streaming_) {
        Put(batch_.Range(0, batch_.Rows()).substr(sent_));
        outcome = EndCopy(batch_.Rows());
    } else {
        outcome.failure = failure_;
    }
    start_failed_ = false;
    sent_ = 0;
    return outcome;
}

CopyWriter::Outcome CopyWriter::Send(std::size_t first, std::size_t last) {
    if (!StartCopy()) {
        Outcome refused;
        refused.failure = failure_;
        return refused;
    }
    Put(batch_.Range(first, last));
    return EndCopy(last - first);
}

}  // namespace trp
