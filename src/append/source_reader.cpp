#include "append/source_reader.h"

#include <poll.h>

#include "append/event_pacer.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {

SourceReader::SourceReader(Connection& source, const std::string& table, EventPacer& pacer)
    : conn_(source.Handle()), pacer_(pacer) {
    ExecuteAwaited(conn_, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", pacer_);
    const std::string name = QuoteIdentifier(table);
    const PgResultPtr count = ExecuteAwaited(conn_, "SELECT count(*) FROM " + name, pacer_);
    row_count_ = std::stoll(PQgetvalue(count.get(), 0, 0));
    // A query rather than the table itself: it also reads generated columns and partitioned
    // tables, exactly the columns `SELECT *` shows.
    ExecuteAwaited(conn_, "COPY (SELECT * FROM " + name + ") TO STDOUT", pacer_);
}

SourceReader::~SourceReader() {
    ReleaseRow();
    // An unfinished stream is left to the connection's end; a finished one ends its snapshot.
    if (done_ && PQtransactionStatus(conn_) != PQTRANS_UNKNOWN) {
        PgResultPtr ignored(PQexec(conn_, "COMMIT"));
    }
}

void SourceReader::ReleaseRow() {
    if (row_) PQfreemem(row_);
    row_ = nullptr;
}

bool SourceReader::Next(std::string_view& line) {
    ReleaseRow();
    if (done_) return false;
    while (true) {
        const int length = PQgetCopyData(conn_, &row_, 1);
        if (length > 0) {
            line = std::string_view(row_, static_cast<size_t>(length));
            return true;
        }
        if (length == 0) {
            pacer_.WaitSocket(conn_, POLLIN);
            if (!PQconsumeInput(conn_)) throw DbError(ErrorText(conn_));
            continue;
        }
        if (length == -2) throw DbError(ErrorText(conn_));
        // The stream ended: the COPY's own result says whether it ended well.
        done_ = true;
        while (PgResultPtr result = AwaitResult(conn_, pacer_)) CheckResult(result.get(), conn_);
        return false;
    }
}

}  // namespace trp
