#include "append/source_reader.h"

#include <poll.h>

#include <algorithm>

#include "append/reconnection.h"
#include "append/session_settings.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/server_version.h"

namespace trp {
namespace {

// How long a part's session may take to open and import the snapshot: one the server (or a
// pooler) does not grant soon is left out rather than awaited.
constexpr int kPartSessionSeconds = 15;
// The rows a session other than the one being read may hold ahead of its turn, all together.
constexpr std::size_t kAheadBytes = 8u << 20;
// While rows are at hand, the other sessions take theirs in every so many rows.
constexpr unsigned kRowsBetweenSteps = 256;

// No part: a stream between two parts.
constexpr std::size_t kNoPart = static_cast<std::size_t>(-1);
// The first part, which shows whether the source is the limit, is this many parts long.
constexpr long long kFirstPartParts = 8;
// The source is the limit where the program waited for its rows at least this share of its
// waiting time over the first part. On two cores shared by every process a table without
// indexes shows about a half: there more source sessions cost more than they give.
constexpr double kSourceBoundShare = 0.75;

std::string BlockAt(long long block) {
    return "'(" + std::to_string(block) + ",0)'::tid";
}

// The table's blocks from `first` on as ranges of `per` blocks, the last one open-ended.
std::vector<std::string> BlockRanges(long long first, long long blocks, long long per) {
    std::vector<std::string> ranges;
    for (; first + per < blocks; first += per)
        ranges.push_back("ctid >= " + BlockAt(first) + " AND ctid < " + BlockAt(first + per));
    ranges.push_back("ctid >= " + BlockAt(first));
    return ranges;
}

Settings ReadingSettings(const Connection& source, bool raw_bytes) {
    Settings settings = SourceSettings(raw_bytes);
    settings.push_back({"statement_timeout", std::to_string(source.CommandTimeout() * 1000LL)});
    return settings;
}

}  // namespace

SourceReader::SourceReader(Connection& source, std::string quoted_table,
                           const std::vector<std::string>& column_order, EventPacer& pacer,
                           long long chunk_blocks)
    : source_(source),
      pacer_(pacer),
      table_(std::move(quoted_table)),
      raw_bytes_(HoldsRawBytes(source)) {
    PGconn* conn = source.Handle();
    streams_.push_back(std::make_unique<SourceStream>(conn, pacer_));
    if (!column_order.empty()) {
        select_list_.clear();
        for (const std::string& name : column_order)
            select_list_ += (select_list_.empty() ? "" : ", ") + source.QuoteIdentifier(name);
    }
    const std::string table_literal = source.QuoteLiteral(table_);
    // Blocks are counted after the snapshot is taken: every row it shows lies in them. A
    // standby exports no snapshot.
    const std::string sql =
        "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SELECT " +
        SetLocally(ReadingSettings(source, raw_bytes_)) +
        ", pg_backend_pid(); SELECT count(*) FROM " + table_ + "; " +
        ColumnTypesQuery(source, table_) +
        "; SELECT CASE WHEN pg_is_in_recovery() THEN NULL ELSE pg_export_snapshot() END, "
        "pg_relation_size(c.oid) / current_setting('block_size')::bigint, c.relkind = 'r' AND "
        "NOT c.relhassubclass AND NOT row_security_active(c.oid) FROM pg_class c WHERE c.oid = " +
        table_literal + "::regclass";
    pacer_.Watch(conn, source.ServerConnectionString());
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer_);
    int tuples = 0;
    while (PgResultPtr result = results.Next()) {
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) continue;
        const PGresult* rows = result.get();
        switch (tuples++) {
            case 0:
                pacer_.ServerProcess(conn, std::atoi(PQgetvalue(rows, 0, PQnfields(rows) - 1)));
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
                blocks_ = std::stoll(PQgetvalue(rows, 0, 1));
                // A plain table, on a server that scans a range of blocks without reading the
                // rest.
                divisible_ = !snapshot_.empty() && PQgetvalue(rows, 0, 2)[0] == 't' &&
                             ServerVersion::Of(conn).ScansBlockRanges();
                if (chunk_blocks > 0 && divisible_) chunks_ = BlockRanges(0, blocks_, chunk_blocks);
        }
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
}

void SourceReader::ReadInParts(int sessions, long long part_blocks, bool where_source_bound) {
    part_sessions_wanted_ = sessions;
    part_blocks_ = part_blocks;
    where_source_bound_ = where_source_bound;
}

std::string SourceReader::Select(const std::string& where, bool locators) const {
    return std::string("SELECT ") + (locators ? "tableoid, ctid, " : "") + select_list_ + " FROM " +
           table_ + (where.empty() ? "" : " WHERE " + where);
}

std::string SourceReader::ChunkSelect(std::size_t chunk) const {
    return Select(chunks_.at(chunk), false);
}

std::string SourceReader::CopyStatement(const std::string& where, bool binary) const {
    // The reading is one statement that lasts as long as the run: it is exempt from the command
    // time-out, which would otherwise cut off the rest of the rows. A query rather than the
    // table itself: it also reads generated columns and partitioned tables, exactly the columns
    // `SELECT *` shows. Binary rows come with where they are stored.
    return "SET LOCAL statement_timeout = 0; COPY (" + Select(where, binary) + ") TO STDOUT" +
           (binary ? " (FORMAT binary)" : "");
}

// The snapshot ends with the connections, which the run closes once the rows are read.
SourceReader::~SourceReader() {
    EndParts();
    pacer_.Unwatch(source_.Handle());
    for (const auto& session : part_sessions_) pacer_.Unwatch(session->Handle());
    streams_.clear();
}

bool SourceReader::OpenPartSessions() {
    const Deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kPartSessionSeconds);
    const std::string import =
        "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SET TRANSACTION "
        "SNAPSHOT " +
        source_.QuoteLiteral(snapshot_) + "; SELECT " +
        SetLocally(ReadingSettings(source_, raw_bytes_)) + ", pg_backend_pid()";
    while (static_cast<int>(streams_.size()) < part_sessions_wanted_) {
        std::unique_ptr<Connection> session = OpenSessionLike(source_, pacer_, kPartSessionSeconds);
        if (!session) break;  // the next would fare no better
        PGconn* conn = session->Handle();
        try {
            const PgResultPtr pid = ExecuteAwaited(conn, import, pacer_, deadline);
            pacer_.Watch(conn, session->ServerConnectionString());
            pacer_.ServerProcess(conn,
                                 std::atoi(PQgetvalue(pid.get(), 0, PQnfields(pid.get()) - 1)));
        } catch (const DbError&) {
            break;
        }
        streams_.push_back(std::make_unique<SourceStream>(conn, pacer_));
        part_sessions_.push_back(std::move(session));
    }
    return streams_.size() > 1;
}

void SourceReader::Start(bool binary, std::optional<std::size_t> chunk) {
    binary_ = binary;
    EndParts();
    current_ = 0;
    reading_sessions_ = 1;
    if (!chunk && part_sessions_wanted_ > 1 && divisible_ && part_blocks_ > 0 &&
        blocks_ >= (kFirstPartParts + 2) * part_blocks_) {
        StartParts();
        return;
    }
    streams_.front()->Start(CopyStatement(chunk ? chunks_.at(*chunk) : std::string(), binary),
                            binary);
}

void SourceReader::StartParts() {
    part_ = 0;
    next_part_ = 0;
    // The first part shows whether the source is the limit; where that is not asked, the parts
    // begin at once (or, without a second session, the table is one stream).
    if (where_source_bound_)
        parts_ = {"ctid < " + BlockAt(kFirstPartParts * part_blocks_)};
    else if (streams_.size() > 1 || OpenPartSessions())
        parts_ = BlockRanges(0, blocks_, part_blocks_);
    else
        parts_ = {""};
    if (parts_.size() > 1) reading_sessions_ = streams_.size();
    stream_part_.assign(streams_.size(), kNoPart);
    waited_before_ = pacer_.Waited();
    source_waited_before_ = streams_.front()->Waited();
    StartIdleStreams();
    pacer_.AddSideWork(this);
    side_work_ = true;
}

void SourceReader::PlanTheRest() {
    const long long first = kFirstPartParts * part_blocks_;
    const auto waited = pacer_.Waited() - waited_before_;
    const auto source_waited = streams_.front()->Waited() - source_waited_before_;
    const bool source_bound =
        waited.count() > 0 && static_cast<double>(source_waited.count()) >=
                                  kSourceBoundShare * static_cast<double>(waited.count());
    if (source_bound && OpenPartSessions()) {
        stream_part_.resize(streams_.size(), kNoPart);
        reading_sessions_ = streams_.size();
        const std::vector<std::string> rest = BlockRanges(first, blocks_, part_blocks_);
        parts_.insert(parts_.end(), rest.begin(), rest.end());
    } else {
        parts_.push_back("ctid >= " + BlockAt(first));
    }
}

void SourceReader::StartIdleStreams() {
    for (std::size_t i = 0; i < streams_.size() && next_part_ < parts_.size(); ++i) {
        if (stream_part_[i] != kNoPart) continue;
        streams_[i]->Start(CopyStatement(parts_[next_part_], binary_), binary_);
        stream_part_[i] = next_part_++;
    }
}

void SourceReader::EndParts() {
    if (side_work_) pacer_.RemoveSideWork(this);
    side_work_ = false;
    parts_.clear();
}

bool SourceReader::Next(std::string_view& line) {
    if (parts_.empty()) return streams_[current_]->Next(line);
    if (++rows_since_step_ == kRowsBetweenSteps) {
        rows_since_step_ = 0;
        Step();
    }
    while (true) {
        SourceStream& stream = *streams_[current_];
        if (stream.Next(line)) return true;
        // The program is ending while the server is still to send.
        if (stream.Open()) return false;
        // The part has ended: its session goes on with the next part to start, and the next
        // part, read ahead meanwhile, follows.
        stream_part_[current_] = kNoPart;
        if (part_ == 0 && where_source_bound_) PlanTheRest();
        StartIdleStreams();
        if (++part_ == parts_.size()) {
            EndParts();
            return false;
        }
        current_ = static_cast<std::size_t>(
            std::find(stream_part_.begin(), stream_part_.end(), part_) - stream_part_.begin());
    }
}

void SourceReader::Sockets(std::vector<pollfd>&) {}

void SourceReader::Step() {
    if (streams_.size() < 2) return;
    const std::size_t bytes = kAheadBytes / (streams_.size() - 1);
    // A session being opened has no part yet.
    for (std::size_t i = 0; i < stream_part_.size(); ++i)
        if (i != current_ && stream_part_[i] != kNoPart) streams_[i]->ReadAhead(bytes);
}

void SourceReader::CheckAlive() {
    ExecuteAwaited(source_.Handle(), "SELECT 1", pacer_);
}

}  // namespace trp
