#include "append/source_reader.h"

#include <poll.h>

#include <cstring>

#include "append/binary_row.h"
#include "append/event_pacer.h"
#include "append/session_settings.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {

SourceReader::SourceReader(Connection& source, const std::string& table, EventPacer& pacer,
                           long long chunk_blocks)
    : conn_(source.Handle()),
      pacer_(pacer),
      name_(source.QuoteIdentifier(table)),
      raw_bytes_(HoldsRawBytes(source)) {
    PinSourceSettings(source, raw_bytes_);
    std::string sql = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SELECT count(*) FROM " +
                      name_ + "; " + ColumnTypesQuery(name_);
    // Blocks are counted after the snapshot is taken: every row it shows lies in them.
    if (chunk_blocks > 0)
        sql +=
            "; SELECT pg_export_snapshot(), pg_relation_size(c.oid) / "
            "current_setting('block_size')::bigint, c.relkind = 'r' AND "
            "current_setting('server_version_num')::int >= 140000 FROM pg_class c WHERE c.oid = " +
            QuoteLiteral(name_) + "::regclass";
    if (!PQsendQuery(conn_, sql.c_str())) ThrowConnectionFailure(conn_);
    ResultStream results(conn_, pacer_);
    int tuples = 0;
    while (PgResultPtr result = results.Next()) {
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) continue;
        switch (tuples++) {
            case 0:
                row_count_ = std::stoll(PQgetvalue(result.get(), 0, 0));
                break;
            case 1:
                columns_ = ReadColumnTypes(result.get());
                break;
            default:
                // A plain table, on a server that scans a range of blocks without reading the
                // rest (14 and later).
                if (PQgetvalue(result.get(), 0, 2)[0] == 't') {
                    snapshot_ = PQgetvalue(result.get(), 0, 0);
                    DivideIntoChunks(std::stoll(PQgetvalue(result.get(), 0, 1)), chunk_blocks);
                }
        }
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
}

void SourceReader::DivideIntoChunks(long long blocks, long long chunk_blocks) {
    // The last chunk is open-ended.
    const auto at = [](long long block) { return "'(" + std::to_string(block) + ",0)'::tid"; };
    long long first = 0;
    for (; first + chunk_blocks < blocks; first += chunk_blocks) {
        chunks_.push_back("SELECT * FROM " + name_ + " WHERE ctid >= " + at(first) +
                          " AND ctid < " + at(first + chunk_blocks));
    }
    chunks_.push_back("SELECT * FROM " + name_ + " WHERE ctid >= " + at(first));
}

// The snapshot ends with the connection, which the run closes once the rows are read.
SourceReader::~SourceReader() {
    ReleaseRow();
}

void SourceReader::Start(bool binary, const std::string& select) {
    binary_ = binary;
    streaming_ = false;
    header_read_ = false;
    done_ = false;
    // The reading is one statement that lasts as long as the run: it is exempt from the command
    // time-out, which would otherwise cut off the rest of the rows. A query rather than the
    // table itself: it also reads generated columns and partitioned tables, exactly the columns
    // `SELECT *` shows.
    const std::string sql = "SET LOCAL statement_timeout = 0; COPY (" +
                            (select.empty() ? "SELECT * FROM " + name_ : select) + ") TO STDOUT" +
                            (binary ? " (FORMAT binary)" : "");
    if (!PQsendQuery(conn_, sql.c_str())) ThrowConnectionFailure(conn_);
}

void SourceReader::AwaitStream() {
    ResultStream results(conn_, pacer_);
    while (PgResultPtr result = results.Next()) {
        if (PQresultStatus(result.get()) == PGRES_COPY_OUT && !results.Failure()) {
            streaming_ = true;
            return;
        }
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
    ThrowConnectionFailure(conn_);
}

void SourceReader::ReleaseRow() {
    row_.reset();
}

bool SourceReader::Next(std::string_view& line) {
    ReleaseRow();
    if (done_) return false;
    if (!streaming_) AwaitStream();
    bool lost = false;
    while (true) {
        char* row = nullptr;
        const int length = PQgetCopyData(conn_, &row, 1);
        row_.reset(row);
        if (length > 0) {
            line = std::string_view(row, static_cast<size_t>(length));
            if (!binary_) return true;
            // The binary stream opens with its header, before the first row's tuple, and
            // closes with a field count of -1.
            if (!header_read_) {
                header_read_ = true;
                if (line.size() < kBinaryCopyHeaderSize)
                    throw DbError("COPY's binary header is missing");
                const std::size_t extension = BigEndian32(row + 15);
                line.remove_prefix(std::min(line.size(), kBinaryCopyHeaderSize + extension));
            }
            if (line.empty() || line == std::string_view("\xff\xff", 2)) {
                ReleaseRow();
                continue;
            }
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
