#include "append/source_stream.h"

#include <poll.h>

#include <algorithm>

#include "append/binary_row.h"
#include "append/column_types.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/db_error.h"

namespace trp {
namespace {

// What a binary tuple read with its locator starts with: the field count, then tableoid (a
// length and 4 bytes) and ctid (a length and 6 bytes: block and item).
constexpr std::size_t kLocatorBytes = 2 + 4 + 4 + 4 + 6;

}  // namespace

void SourceStream::Start(const std::string& sql, bool binary) {
    binary_ = binary;
    started_ = true;
    streaming_ = false;
    header_read_ = false;
    done_ = false;
    results_ahead_.clear();
    rows_ahead_.clear();
    bytes_ahead_ = 0;
    ended_ahead_ = false;
    lost_ = false;
    if (!PQsendQuery(conn_, sql.c_str())) ThrowConnectionFailure(conn_);
    FlushOutput(conn_, pacer_);
}

void SourceStream::AwaitStream() {
    ResultStream results(conn_, pacer_, std::move(results_ahead_), false);
    results_ahead_.clear();
    while (PgResultPtr result = results.Next()) {
        if (PQresultStatus(result.get()) == PGRES_COPY_OUT && !results.Failure()) {
            streaming_ = true;
            return;
        }
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
    ThrowConnectionFailure(conn_);
}

void SourceStream::TakeLocator(std::string_view& tuple, char* writable) {
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

int SourceStream::TakeData(char*& row) {
    if (!rows_ahead_.empty()) {
        auto& [buffer, length] = rows_ahead_.front();
        row = buffer.release();
        const int taken = length;
        bytes_ahead_ -= static_cast<std::size_t>(taken);
        rows_ahead_.pop_front();
        return taken;
    }
    // libpq has already handed over the end of the data.
    if (ended_ahead_) return -1;
    return PQgetCopyData(conn_, &row, 1);
}

bool SourceStream::Next(std::string_view& line) {
    row_.reset();
    if (done_ || !started_) return false;
    if (!streaming_) AwaitStream();
    while (true) {
        char* row = nullptr;
        const int length = TakeData(row);
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
                row_.reset();
                continue;
            }
            TakeLocator(line, row);
            return true;
        }
        if (length == 0) {
            if (lost_) ThrowConnectionFailure(conn_);
            if (pacer_.Ending()) return false;
            const auto waited = pacer_.Waited();
            pacer_.WaitSocket(conn_, POLLIN);
            waited_ += pacer_.Waited() - waited;
            // What arrived before the connection ended may still say why it ended.
            if (!PQconsumeInput(conn_)) lost_ = true;
            continue;
        }
        if (length == -2) ThrowConnectionFailure(conn_);
        // The stream ended: the COPY's own result says whether it ended well.
        done_ = true;
        ended_ahead_ = false;
        ResultStream results(conn_, pacer_);
        while (results.Next()) {
        }
        if (results.Failure()) std::rethrow_exception(results.Failure());
        return false;
    }
}

bool SourceStream::WantsInput(std::size_t bytes) const {
    return started_ && !done_ && !ended_ahead_ && !lost_ && bytes_ahead_ < bytes;
}

void SourceStream::ReadAhead(std::size_t bytes) {
    if (!WantsInput(bytes)) return;
    // What arrived before a loss is still taken; the loss itself is thrown in the stream's turn.
    if (!PQconsumeInput(conn_)) lost_ = true;
    while (!streaming_) {
        if (PQisBusy(conn_)) return;
        PgResultPtr result(PQgetResult(conn_));
        if (!result) return;
        if (PQresultStatus(result.get()) == PGRES_COPY_OUT) {
            streaming_ = true;
            results_ahead_.clear();
            break;
        }
        // A failure, or what came before the COPY; the stream's turn sees it.
        const bool failed = PQresultStatus(result.get()) == PGRES_FATAL_ERROR;
        results_ahead_.push_back(std::move(result));
        if (failed) return;
    }
    while (bytes_ahead_ < bytes) {
        char* row = nullptr;
        const int length = PQgetCopyData(conn_, &row, 1);
        if (length <= 0) {
            if (length == -1) ended_ahead_ = true;
            if (length == -2) lost_ = true;
            return;
        }
        rows_ahead_.emplace_back(PqBuffer(row), length);
        bytes_ahead_ += static_cast<std::size_t>(length);
    }
}

}  // namespace trp
