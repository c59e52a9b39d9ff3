#pragma once

#include <libpq-fe.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "append/column_types.h"
#include "append/row_locator.h"
#include "db/pg_handles.h"

namespace trp {

class Connection;
class EventPacer;

// Streams the rows of the source table with COPY, one row at a time, from one snapshot: the
// count, the column types and the rows come from the same read-only repeatable-read
// transaction, taken before anything is written, so rows added meanwhile (also by this very
// run, when a table is appended to itself) are not read. Only one row is held at a time. The
// transaction sets its own output settings (SourceSettings) and exports its snapshot, so that a
// second session can read the same rows again.
class SourceReader {
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
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

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
    const RowLocator& Locator() const { return locator_; }
    // The buffer that holds the row Next gave, for the caller to keep (it stays valid).
    PqBuffer TakeRow() { return std::move(row_); }
    // Throws the source's failure when its session is lost (between two streams of rows).
    void CheckAlive();

private:
    void ReleaseRow();
    void AwaitStream();
    void DivideIntoChunks(long long blocks, long long chunk_blocks);
    std::string Select(const std::string& where, bool locators) const;
    // Takes the locator off the front of a binary tuple.
    void TakeLocator(std::string_view& tuple, char* writable);

    PGconn* conn_;
    EventPacer& pacer_;
    std::string table_;
    std::string select_list_ = "*";
    long long row_count_ = 0;
    ColumnTypes columns_;
    std::string snapshot_;
    std::vector<std::string> chunks_;  // the WHERE conditions of the chunks
    bool raw_bytes_ = false;
    bool binary_ = false;
    bool streaming_ = false;
    bool header_read_ = false;
    PqBuffer row_;
    RowLocator locator_;
    bool done_ = false;
};

}  // namespace trp
