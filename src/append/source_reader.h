#pragma once

#include <libpq-fe.h>

#include <string>
#include <string_view>
#include <vector>

#include "append/column_types.h"
#include "connection/pg_handles.h"

namespace trp {

class Connection;
class EventPacer;

// Streams the rows of the source table with COPY, one row at a time, from one snapshot: the
// count, the column types and the rows come from the same read-only repeatable-read
// transaction, taken before anything is written, so rows added meanwhile (also by this very
// run, when a table is appended to itself) are not read. Only one row is held at a time.
class SourceReader {
public:
    // Pins the session's output settings, starts the snapshot, counts the rows and reads the
    // column types, in one round trip. With `chunk_blocks` (the destination is in the same
    // database), the snapshot is exported and the table divided into chunks of that many
    // blocks, for the rows to move inside the server. Throws DbError.
    SourceReader(Connection& source, const std::string& table, EventPacer& pacer,
                 long long chunk_blocks = 0);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    long long RowCount() const { return row_count_; }
    const ColumnTypes& Columns() const { return columns_; }
    // The source database has no encoding: its rows are passed on as unconverted bytes.
    bool RawBytes() const { return raw_bytes_; }

    // The exported snapshot, and the chunks of the table as SELECT statements on it, when the
    // rows can move inside the server (a plain table, on a server that scans block ranges);
    // otherwise no chunks.
    const std::string& Snapshot() const { return snapshot_; }
    const std::vector<std::string>& Chunks() const { return chunks_; }

    // Starts the stream of rows in COPY's text format, or in its binary format (each row then
    // comes as its tuple: field count and fields, without the stream's header and trailer):
    // the whole table, or the rows of one `select`. The answer is awaited by the first Next.
    void Start(bool binary, const std::string& select = {});

    // The next row, valid until the next call; a text row ends with its line end. False at the
    // end of the rows, and also when the program is ending while the server is still to send
    // the next row. Throws DbError when reading fails.
    bool Next(std::string_view& line);
    // The buffer that holds the row Next gave, for the caller to keep (it stays valid).
    PqBuffer TakeRow() { return std::move(row_); }

private:
    void ReleaseRow();
    void AwaitStream();
    void DivideIntoChunks(long long blocks, long long chunk_blocks);

    PGconn* conn_;
    EventPacer& pacer_;
    std::string name_;
    long long row_count_ = 0;
    ColumnTypes columns_;
    std::string snapshot_;
    std::vector<std::string> chunks_;
    bool raw_bytes_ = false;
    bool binary_ = false;
    bool streaming_ = false;
    bool header_read_ = false;
    PqBuffer row_;
    bool done_ = false;
};

}  // namespace trp
