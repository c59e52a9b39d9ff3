#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "append/row_locator.h"
#include "db/pg_handles.h"

namespace trp {

class EventPacer;

// One COPY … TO STDOUT on one source session, a row at a time: in COPY's text format, or in its
// binary one (each row then comes as its tuple, without the stream's header and trailer, and
// Locator says where it is stored). While another session's rows are being read, this one's may
// be taken in ahead, without waiting and up to a bound, so that its server works meanwhile.
class SourceStream {
public:
    SourceStream(PGconn* conn, EventPacer& pacer) : conn_(conn), pacer_(pacer) {}
    SourceStream(const SourceStream&) = delete;
    SourceStream& operator=(const SourceStream&) = delete;

    // Sends the statement whose COPY streams the rows; its answer is awaited by the first Next.
    void Start(const std::string& sql, bool binary);
    // The next row, valid until the next call; a text row ends with its line end. False at the
    // end of the rows, and also when the program is ending while the server is still to send
    // the next row. Throws DbError when reading fails.
    bool Next(std::string_view& line);
    const RowLocator& Locator() const { return locator_; }
    // The buffer that holds the row Next gave, for the caller to keep (it stays valid).
    PqBuffer TakeRow() { return std::move(row_); }
    // Whether the stream was started and has not yet ended.
    bool Open() const { return started_ && !done_; }

    // Takes in what the server has sent, without waiting, until `bytes` of rows are held. A
    // failure is left for Next to throw in the stream's turn.
    void ReadAhead(std::size_t bytes);
    // Whether ReadAhead would take more, once the socket is readable.
    bool WantsInput(std::size_t bytes) const;
    PGconn* Conn() const { return conn_; }
    // How long the program has waited for this stream's rows.
    std::chrono::steady_clock::duration Waited() const { return waited_; }

private:
    void AwaitStream();
    // The next row's COPY data as libpq gives it: > 0 its length, 0 none yet, -1 the end, -2 a
    // failure.
    int TakeData(char*& row);
    // Takes the locator off the front of a binary tuple.
    void TakeLocator(std::string_view& tuple, char* writable);

    PGconn* conn_;
    EventPacer& pacer_;
    bool binary_ = false;
    bool started_ = false;
    bool streaming_ = false;
    bool header_read_ = false;
    bool done_ = false;
    PqBuffer row_;
    RowLocator locator_;
    // Taken in ahead: the results before the stream began (a failure among them), its rows,
    // whether it ended, and whether its connection was lost meanwhile.
    std::deque<PgResultPtr> results_ahead_;
    std::deque<std::pair<PqBuffer, int>> rows_ahead_;
    std::size_t bytes_ahead_ = 0;
    bool ended_ahead_ = false;
    bool lost_ = false;
    std::chrono::steady_clock::duration waited_{};
};

}  // namespace trp
