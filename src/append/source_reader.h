#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "append/column_types.h"
#include "append/row_locator.h"
#include "append/source_stream.h"
#include "catalogue/event_pacer.h"
#include "db/pg_handles.h"

namespace trp {

class Connection;

// Streams the rows of the source table with COPY, one row at a time, from one snapshot: the
// count, the column types and the rows come from the same read-only repeatable-read
// transaction, taken before anything is written, so rows added meanwhile (also by this very
// run, when a table is appended to itself) are not read. Only one row is held at a time. The
// transaction sets its own output settings (SourceSettings) and exports its snapshot, so that a
// second session can read the same rows again.
//
// Where the source is the limit, a plain table is read in parts, block ranges in the table's
// order, by several sessions that import the snapshot: while one part's rows are handed on, the
// next parts' sessions read theirs ahead, so that the source's server works on several parts at
// once. The rows still come in the order of one stream, each with its source number. Whether
// the source is the limit shows over the table's first blocks, read by the one session: the
// program then waits mostly for the source's rows rather than for the destination.
class SourceReader : public SideWork {
public:
    // Starts the snapshot, counts the rows and reads the column types, in one round trip.
    // `quoted_table` is the table's name as the source's session reads it; `column_order` the
    // names of its columns in the order the destination takes them (empty: as `SELECT *` shows
    // them). With `chunk_blocks` (the destination is in the same database), the table is
    // divided into chunks of that many blocks, for the rows to move inside the server.
    // Throws DbError.
    SourceReader(Connection& source, std::string quoted_table,
                 const std::vector<std::string>& column_order, EventPacer& pacer,
                 long long chunk_blocks = 0);
    ~SourceReader() override;
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // The whole table may be read by up to `sessions` sessions at once, in parts of
    // `part_blocks` blocks, where the table can be read so (a plain table of several parts, on a
    // server that scans block ranges and exports its snapshot); `where_source_bound`: only where
    // the program's waits over its first parts were mostly for the source's rows. A session the
    // server does not grant leaves the reading to the others.
    void ReadInParts(int sessions, long long part_blocks, bool where_source_bound);
    // How many sessions read the table at once (the last time it was read).
    std::size_t ReadingSessions() const { return reading_sessions_; }

    long long RowCount() const { return row_count_; }
    // The columns in the order they are read.
    const ColumnTypes& Columns() const { return columns_; }
    // The source database has no encoding: its rows are passed on as unconverted bytes.
    bool RawBytes() const { return raw_bytes_; }
    // The table's name and the columns read, as the source's session reads them.
    const std::string& QuotedTable() const { return table_; }
    const std::string& SelectList() const { return select_list_; }

    // The exported snapshot (empty where the server exports none, as a standby).
    const std::string& Snapshot() const { return snapshot_; }
    // The chunks of the table as SELECT statements on it, when the rows can move inside the
    // server (a plain table without children, on a server that scans block ranges, whose rows
    // no row-level security filters for this login); otherwise none.
    std::size_t ChunkCount() const { return chunks_.size(); }
    std::string ChunkSelect(std::size_t chunk) const;

    // Starts the stream of rows in COPY's text format, or in its binary format (each row then
    // comes as its tuple: field count and fields, without the stream's header and trailer, and
    // Locator says where it is stored): the whole table, or the rows of one chunk. The answer is
    // awaited by the first Next.
    void Start(bool binary, std::optional<std::size_t> chunk = std::nullopt);

    // The next row, valid until the next call; a text row ends with its line end. False at the
    // end of the rows, and also when the program is ending while the server is still to send
    // the next row. Throws DbError when reading fails.
    bool Next(std::string_view& line);
    // Where the binary row Next gave is stored.
    const RowLocator& Locator() const { return streams_[current_]->Locator(); }
    // The buffer that holds the row Next gave, for the caller to keep (it stays valid).
    PqBuffer TakeRow() { return streams_[current_]->TakeRow(); }
    // Throws the source's failure when its session is lost (between two streams of rows).
    void CheckAlive();

    // The parts' sessions other than the one being read take in their rows ahead.
    void Sockets(std::vector<pollfd>& sockets) override;
    void Step() override;

private:
    std::string Select(const std::string& where, bool locators) const;
    std::string CopyStatement(const std::string& where, bool binary) const;
    // Opens the parts' sessions; true when there are at least two to read with.
    bool OpenPartSessions();
    void StartParts();
    // Once the first part is read: the rest in parts on several sessions, or in one.
    void PlanTheRest();
    // Each stream without a part takes the next one.
    void StartIdleStreams();
    void EndParts();

    Connection& source_;
    EventPacer& pacer_;
    std::string table_;
    std::string select_list_ = "*";
    long long row_count_ = 0;
    ColumnTypes columns_;
    std::string snapshot_;
    long long blocks_ = 0;             // the table's, when the snapshot was taken
    bool divisible_ = false;           // a plain table that can be read by block ranges
    std::vector<std::string> chunks_;  // the WHERE conditions of the chunks
    bool raw_bytes_ = false;
    bool binary_ = false;
    // Reading in parts: the sessions beside the source's own, one stream for each session (the
    // source's first) and the part it reads, the parts' WHERE conditions, the part being read and
    // the next one to start.
    int part_sessions_wanted_ = 1;
    long long part_blocks_ = 0;
    bool where_source_bound_ = true;
    std::vector<std::unique_ptr<Connection>> part_sessions_;
    std::vector<std::unique_ptr<SourceStream>> streams_;
    std::vector<std::size_t> stream_part_;
    std::vector<std::string> parts_;
    std::size_t part_ = 0;
    std::size_t next_part_ = 0;
    std::size_t current_ = 0;  // the stream being read
    std::size_t reading_sessions_ = 1;
    // The program's waits, and the source's among them, when the first part began.
    std::chrono::steady_clock::duration waited_before_{};
    std::chrono::steady_clock::duration source_waited_before_{};
    unsigned rows_since_step_ = 0;
    bool side_work_ = false;
};

}  // namespace trp
