#include "append/copy_writer.h"

#include <poll.h>

#include "append/event_pacer.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {
namespace {

constexpr std::size_t kStreamChunk = 256 * 1024;

}  // namespace

CopyWriter::CopyWriter(Connection& destination, std::string table, const AppendOptions& options,
                       EventPacer& pacer, RowFailureHandler on_failure)
    : BatchWriter(destination, std::move(table), options.batch_rows, options.batch_bytes, pacer,
                  std::move(on_failure)) {}

bool CopyWriter::StartCopy() {
    copy_failed_ = false;
    sent_ = 0;
    try {
        ExecuteAwaited(destination_.Handle(), "COPY " + QuoteIdentifier(table_) + " FROM STDIN",
                       pacer_);
        return true;
    } catch (const DbError&) {
        // The rows then go one by one, where each gets its own report.
        copy_failed_ = true;
        return false;
    }
}

void CopyWriter::Put(std::string_view data) {
    PGconn* conn = destination_.Handle();
    while (!copy_failed_ && !data.empty()) {
        const int size = static_cast<int>(std::min<std::size_t>(data.size(), kStreamChunk));
        const int queued = PQputCopyData(conn, data.data(), size);
        if (queued < 0) {
            // The server ended the COPY with an error; the rest of the data has no taker.
            copy_failed_ = true;
        } else if (queued == 0) {
            try {
                pacer_.WaitSocket(conn, POLLOUT | POLLIN);
            } catch (const DbError&) {
                copy_failed_ = true;
            }
            if (!PQconsumeInput(conn)) copy_failed_ = true;
        } else {
            data.remove_prefix(static_cast<std::size_t>(size));
        }
    }
    if (!copy_failed_) {
        // Hand over what libpq holds, without waiting for a full socket to drain.
        if (PQflush(conn) < 0) copy_failed_ = true;
    }
}

CopyWriter::Outcome CopyWriter::EndCopy() {
    PGconn* conn = destination_.Handle();
    streaming_ = false;
    bool committed = false;
    if (!copy_failed_) {
        while (true) {
            const int ended = PQputCopyEnd(conn, nullptr);
            if (ended != 0) break;
            try {
                pacer_.WaitSocket(conn, POLLOUT | POLLIN);
            } catch (const DbError&) {
                break;
            }
            if (!PQconsumeInput(conn)) break;
        }
    }
    // The COPY's result, then the end of the command; a failure rolls the whole COPY back.
    try {
        bool failed = copy_failed_;
        bool abandoned = false;
        while (PgResultPtr result = AwaitResult(conn, pacer_)) {
            const auto status = PQresultStatus(result.get());
            if (status == PGRES_COPY_IN) {
                // Only reached when the data could not be handed over: abandon the COPY, and
                // give up on a connection that cannot even take that.
                failed = true;
                if (abandoned || PQputCopyEnd(conn, "the rows could not be sent") != 1) break;
                abandoned = true;
                continue;
            }
            if (status != PGRES_COMMAND_OK) failed = true;
        }
        committed = !failed;
    } catch (const DbError&) {
        committed = false;
    }
    return Outcome{committed, std::nullopt};
}

void CopyWriter::RowAdded() {
    if (!streaming_) {
        if (copy_failed_) return;  // this batch's COPY could not start; retried at the end
        if (!StartCopy()) return;
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
        outcome = EndCopy();
    }
    copy_failed_ = false;
    sent_ = 0;
    return outcome;
}

CopyWriter::Outcome CopyWriter::Send(std::size_t first, std::size_t last) {
    if (!StartCopy()) {
        copy_failed_ = false;
        return {};
    }
    Put(batch_.Range(first, last));
    Outcome outcome = EndCopy();
    copy_failed_ = false;
    return outcome;
}

}  // namespace trp
