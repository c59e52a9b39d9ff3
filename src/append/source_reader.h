#pragma once

#include <libpq-fe.h>

#include <string>
#include <string_view>

namespace trp {

class Connection;
class EventPacer;

// Streams the rows of the source table in COPY's text format, one row at a time, from one
// snapshot: the count and the rows come from the same read-only repeatable-read transaction,
// taken before anything is written, so rows added meanwhile (also by this very run, when a
// table is appended to itself) are not read. Only one row is held at a time.
class SourceReader {
public:
    // Pins the session's output settings, starts the snapshot, counts the rows and starts the
    // stream. Throws DbError.
    SourceReader(Connection& source, const std::string& table, EventPacer& pacer);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    long long RowCount() const { return row_count_; }
    // The source database has no encoding: its rows are passed on as unconverted bytes.
    bool RawBytes() const { return raw_bytes_; }

    // The next row with its line end, valid until the next call; false at the end of the rows,
    // and also when the program is ending while the server is still to send the next row.
    // Throws DbError when reading fails.
    bool Next(std::string_view& line);

private:
    void ReleaseRow();

    PGconn* conn_;
    EventPacer& pacer_;
    long long row_count_ = 0;
    bool raw_bytes_ = false;
    char* row_ = nullptr;
    bool done_ = false;
};

}  // namespace trp
