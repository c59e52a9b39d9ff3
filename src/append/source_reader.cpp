#include "append/source_reader.h"

#include <poll.h>

#include "append/event_pacer.h"
#include "append/session_settings.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {

SourceReader::SourceReader(Connection& source, const std::string& table, EventPacer& pacer)
    : conn_(source.Handle()), pacer_(pacer), raw_bytes_(HoldsRawBytes(source)) {
    PinSourceSettings(source, raw_bytes_);
    const std::string name = source.QuoteIdentifier(table);
    // One round trip. The reading is one statement that lasts as long as the run: it is exempt
    // from the command time-out, which would otherwise cut off the rest of the rows. A query
    // rather than the table itself: it also reads generated columns and partitioned tables,
    // exactly the columns `SELECT *` shows.
    const std::string sql =
        "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SELECT count(*) FROM " + name +
        "; SET LOCAL statement_timeout = 0; COPY (SELECT * FROM " + name + ") TO STDOUT";
    if (!PQsendQuery(conn_, sql.c_str())) ThrowConnectionFailure(conn_);
    ResultStream results(conn_, pacer_);
    while (PgResultPtr result = results.Next()) {
        const auto status = PQresultStatus(result.get());
        if (status == PGRES_COPY_OUT && !results.Failure()) return;
        if (status == PGRES_TUPLES_OK) row_count_ = std::stoll(PQgetvalue(result.get(), 0, 0));
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
    ThrowConnectionFailure(conn_);
}

// The snapshot ends with the connection, which the run closes once the rows are read.
SourceReader::~SourceReader() {
    ReleaseRow();
}

void SourceReader::ReleaseRow() {
    if (row_) PQfreemem(row_);
    row_ = nullptr;
}

bool SourceReader::Next(std::string_view& line) {
    ReleaseRow();
    if (done_) return false;
    bool lost = false;
    while (true) {
        const int length = PQgetCopyData(conn_, &row_, 1);
        if (length > 0) {
            line = std::string_view(row_, static_cast<size_t>(length));
            return true;
        }
        if (length == 0) {
            if (lost) ThrowConnectionFailure(conn_);
            if (pacer_.Ending()) return false;
            pacer_.WaitSocket(conn_, POLLIN);
            // What arrived before the connection ended may still say why it ended.
            if (!PQconsumeInput(conn_)) lost = true;
            continue;
        }
        if (length == -2) ThrowConnectionFailure(conn_);
        // The stream ended: the COPY's own result says whether it ended well.
        done_ = true;
        ResultStream results(conn_, pacer_);
        while (results.Next()) {
        }
        if (results.Failure()) std::rethrow_exception(results.Failure());
        return false;
    }
}

}  // namespace trp
