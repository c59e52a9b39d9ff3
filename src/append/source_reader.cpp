#include "append/source_reader.h"

#include <poll.h>

#include <cstring>

#include "append/binary_row.h"
#include "append/session_settings.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/server_version.h"

namespace trp {
namespace {

// What a binary tuple read with its locator starts with: the field count, then tableoid (a
// length and 4 bytes) and ctid (a length and 6 bytes: block and item).
constexpr std::size_t kLocatorBytes = 2 + 4 + 4 + 4 + 6;

}  // namespace

SourceReader::SourceReader(Connection& source, std::string quoted_table,
                           const std::vector<std::string>& column_order, EventPacer& pacer,
                           long long chunk_blocks)
    : conn_(source.Handle()),
      pacer_(pacer),
      table_(std::move(quoted_table)),
      raw_bytes_(HoldsRawBytes(source)) {
    if (!column_order.empty()) {
        select_list_.clear();
        for (const std::string& name : column_order)
            select_list_ += (select_list_.empty() ? "" : ", ") + source.QuoteIdentifier(name);
    }
    Settings settings = SourceSettings(raw_bytes_);
    settings.push_back({"statement_timeout", std::to_string(source.CommandTimeout() * 1000LL)});
    const std::string table_literal = source.QuoteLiteral(table_);
    // Blocks are counted after the snapshot is taken: every row it shows lies in them. A
    // standby exports no snapshot.
    const std::string sql =
        "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SELECT " + SetLocally(settings) +
        ", pg_backend_pid(); SELECT count(*) FROM " + table_ + "; " +
        ColumnTypesQuery(source, table_) +
        "; SELECT CASE WHEN pg_is_in_recovery() THEN NULL ELSE pg_export_snapshot() END, "
        "pg_relation_size(c.oid) / current_setting('block_size')::bigint, c.relkind = 'r' AND "
        "NOT c.relhassubclass AND NOT row_security_active(c.oid) FROM pg_class c WHERE c.oid = " +
        table_literal + "::regclass";
    pacer_.Watch(conn_, source.ServerConnectionString());
    if (!PQsendQuery(conn_, sql.c_str())) ThrowConnectionFailure(conn_);
    ResultStream results(conn_, pacer_);
    int tuples = 0;
    while (PgResultPtr result = results.Next()) {
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) continue;
        const PGresult* rows = result.get();
        switch (tuples++) {
            case 0:
                pacer_.ServerProcess(conn_, std::atoi(PQgetvalue(rows, 0, PQnfields(rows) - 1)));
                break;
            case 1:
                row_count_ = std::stoll(PQgetvalue(rows, 0, 0));
                break;
            case 2:
                columns_ = ReadColumnTypes(rows);
                if (!column_order.empty()) columns_ = InOrderOf(columns_, column_order);
                break;
            default:
                if (!PQgetisnull(rows, 0, 0)) snapshot_ = PQgetvalue(rows, 0, 0);
                // A plain table, on a server that scans a range of blocks without reading the
                // rest.
                if (chunk_blocks > 0 && !snapshot_.empty() && PQgetvalue(rows, 0, 2)[0] == 't' &&
                    ServerVersion::Of(conn_).ScansBlockRanges())
                    DivideIntoChunks(std::stoll(PQgetvalue(rows, 0, 1)), chunk_blocks);
        }
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
}

void SourceReader::DivideIntoChunks(long long blocks, long long chunk_blocks) {
    // The last chunk is open-ended.
    const auto at = [](long long block) { return "'(" + std::to_string(block) + ",0)'::tid"; };
    long long first = 0;
    for (; first + chunk_blocks < blocks; first += chunk_blocks)
        chunks_.push_back("ctid >= " + at(first) + " AND ctid < " + at(first + chunk_blocks));
    chunks_.push_back("ctid >= " + at(first));
}

std::string SourceReader::Select(const std::string& where, bool locators) const {
    return std::string("SELECT ") + (locators ? "tableoid, ctid, " : "") + select_list_ + " FROM " +
           table_ + (where.empty() ? "" : " WHERE " + where);
}

std::string SourceReader::ChunkSelect(std::size_t chunk) const {
    return Select(chunks_.at(chunk), false);
}

// The snapshot ends with the connection, which the run closes once the rows are read.
SourceReader::~SourceReader() {
    ReleaseRow();
    pacer_.Unwatch(conn_);
}

void SourceReader::Start(bool binary, std::optional<std::size_t> chunk) {
    binary_ = binary;
    streaming_ = false;
    header_read_ = false;
    done_ = false;
    // The reading is one statement that lasts as long as the run: it is exempt from the command
    // time-out, which would otherwise cut off the rest of the rows. A query rather than the
    // table itself: it also reads generated columns and partitioned tables, exactly the columns
    // `SELECT *` shows. Binary rows come with where they are stored.
    const std::string sql = "SET LOCAL statement_timeout = 0; COPY (" +
                            Select(chunk ? chunks_.at(*chunk) : std::string(), binary) +
                            ") TO STDOUT" + (binary ? " (FORMAT binary)" : "");
    if (!PQsendQuery(conn_, sql.c_str())) ThrowConnectionFailure(conn_);
}

void SourceReader::CheckAlive() {
    ExecuteAwaited(conn_, "SELECT 1", pacer_);
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

void SourceReader::TakeLocator(std::string_view& tuple, char* writable) {
    if (tuple.size() < kLocatorBytes || BigEndian32(tuple.data() + 2) != 4 ||
        BigEndian32(tuple.data() + 10) != 6)
        throw DbError("a row of COPY's binary format does not say where it is stored");
    const std::uint16_t fields = BigEndian16(tuple.data());
    locator_.table = BigEndian32(tuple.data() + 6);
    locator_.block = BigEndian32(tuple.data() + 14);
    locator_.item = BigEndian16(tuple.data() + 18);
    // The row's own tuple: its field count written over the last bytes of the locator.
    const std::size_t start = kLocatorBytes - 2;
    const auto own_fields = static_cast<std::uint16_t>(fields - 2);
    char* at = writable + (tuple.data() - writable) + start;
    at[0] = static_cast<char>(own_fields >> 8);
    at[1] = static_cast<char>(own_fields & 0xff);
    tuple.remove_prefix(start);
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
            TakeLocator(line, row);
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
