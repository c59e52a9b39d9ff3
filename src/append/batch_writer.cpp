#include "append/batch_writer.h"

#include <algorithm>
#include <cstdlib>

#include "append/column_types.h"
#include "append/insert_statement.h"
#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

using Clock = std::chrono::steady_clock;

// A batch that has been open this long is sent, so that the bar, which follows committed rows,
// keeps moving while rows come in slowly.
constexpr std::chrono::milliseconds kBatchTime{500};

// After a refusal, the next batch's rows at most (doubling with each batch without one).
constexpr std::size_t kBatchAfterRefusal = 16384;

// The batch is done with, whichever way its sending ends.
struct ClearOnExit {
    RowBatch& batch;
    ~ClearOnExit() { batch.Clear(); }
};

}  // namespace

BatchWriter::BatchWriter(Connection& destination, DestinationTable table, std::size_t max_rows,
                         const AppendOptions& options, EventPacer& pacer, WriterListener& listener,
                         SourceRowTexts* texts)
    : destination_(destination),
      table_(std::move(table)),
      pacer_(pacer),
      commit_check_(options.commit_check),
      max_rows_(max_rows == 0 ? 1 : max_rows),
      max_bytes_(options.batch_bytes),
      listener_(listener),
      texts_(texts),
      watched_(destination.Handle()),
      reconnect_for_(options.reconnect_for) {
    batch_limit_ = max_rows_;
    pacer_.Watch(watched_, destination.ServerConnectionString());
    try {
        server_life_ = ServerLife::Read(
            ExecuteAwaited(watched_, std::string("SELECT ") + ServerLife::kColumns, pacer_).get(),
            0);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        // Unknown, every commit in doubt is then proven against a restart.
    }
}

BatchWriter::~BatchWriter() {
    // A transaction still open ends while its connection is watched.
    transaction_.reset();
    pacer_.Unwatch(watched_);
}

void BatchWriter::Add(std::string_view line, const RowLocator& at) {
    if (batch_.Rows() == 0) batch_started_ = Clock::now();
    batch_.Append(line, table_.binary, at);
    ++rows_taken_;
    Guarded([this] { RowAdded(); });
    const std::size_t rows = batch_.Rows();
    if (rows >= batch_limit_ || batch_.Bytes() >= max_bytes_ ||
        (rows % 64 == 0 && Clock::now() - batch_started_ >= kBatchTime)) {
        if (before_settling_)
            complete_ = true;
        else
            Guarded([this] { Flush(); });
    }
}

void BatchWriter::JoinTeam(std::function<void()> before_settling) {
    before_settling_ = std::move(before_settling);
}

void BatchWriter::AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) {
    // A batch of its own, held where libpq put it rather than copied.
    Guarded([this] { Flush(); });
    batch_started_ = Clock::now();
    batch_.Adopt(std::move(buffer), row, table_.binary, at);
    ++rows_taken_;
    Guarded([this] { RowAdded(); });
    Guarded([this] { Flush(); });
}

void BatchWriter::Finish() {
    Guarded([this] { Flush(); });
}

void BatchWriter::FinishInFlight() {
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    ClearOnExit clear{batch_};
    in_flight_ = true;
    try {
        const Outcome outcome = SendBatch();
        if (outcome.committed) {
            tally_.settled += static_cast<long long>(rows);
            tally_.added += outcome.added;
        }
    } catch (const DbError&) {
        // Nothing more is shown: the program is ending.
    } catch (const SourceLost&) {
        // Nor of a source lost while a refused row's values were looked up.
    }
}

void BatchWriter::Flush() {
    complete_ = false;
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    flushing_ = true;
    batch_first_ = rows_taken_ - static_cast<long long>(rows);
    refused_before_ = refusals_.refused;
    settled_.assign(rows, 0);
    commits_.clear();
    if (in_pieces_) {
        BeforeSettling();
        Settlement settlement(destination_, pacer_, table_, PiecesByCopy(), batch_, texts_, *this);
        Settling(settlement, refusals_).RunInPieces(0, rows);
        settlement.Finish();
        FinishFlush();
        return;
    }
    const Outcome first_try = SendBatch();
    if (first_try.committed) {
        CommitRecord record{Doubt(first_try.added), first_try.outcomes};
        if (record.outcomes.empty()) record.outcomes = {{0, rows, first_try.added, nullptr}};
        record.commit.xid = first_try.xid;
        record.commit.opened_at = first_try.opened_at;
        Committed(record);
        if (std::any_of(record.outcomes.begin(), record.outcomes.end(),
                        [](const SettledOutcome& outcome) { return outcome.failure != nullptr; }))
            BeforeSettling();
        HandOnAll(*this, record.outcomes);
    } else {
        Settle(rows, first_try);
    }
    FinishFlush();
}

void BatchWriter::FinishFlush() {
    flushing_ = false;
    restarted_ = false;
    in_pieces_ = refusals_.refused > refused_before_;
    // Kept while the next batch goes, where a lost server may have to be made good.
    if (RidesOut()) {
        KeptBatch kept;
        std::swap(kept.rows, batch_);
        kept.first_row = batch_first_;
        kept.settled = std::move(settled_);
        kept.commits = std::move(commits_);
        commits_.clear();
        kept_bytes_ += kept.rows.Bytes();
        kept_.push_back(std::move(kept));
        while (kept_.size() > 1 && kept_bytes_ > max_bytes_) {
            kept_bytes_ -= kept_.front().rows.Bytes();
            // Its buffer takes the next batch's rows.
            std::swap(batch_, kept_.front().rows);
            kept_.pop_front();
        }
    }
    batch_.Clear();
    if (stop_after_batch_) throw AppendStopped();
    // Where rows are refused, a failed batch costs its rows again: small ones then.
    batch_limit_ = refusals_.refused > refused_before_ ? std::min(max_rows_, kBatchAfterRefusal)
                                                       : std::min(max_rows_, batch_limit_ * 2);
}

void BatchWriter::Settle(std::size_t rows, const Outcome& first_try) {
    BeforeSettling();
    PieceResult failed;
    failed.failed_row = first_try.failed_row;
    failed.failure = first_try.failure;
    failed.failure_is_the_rows = first_try.failure_is_the_rows;
    Settlement settlement(destination_, pacer_, table_, PiecesByCopy(), batch_, texts_, *this);
    Settling(settlement, refusals_).Run(rows, failed);
    settlement.Finish();
}

void BatchWriter::Count(std::size_t rows, long long added) {
    tally_.settled += static_cast<long long>(rows);
    tally_.added += added;
    listener_.Progressed(tally_);
}

void BatchWriter::Settled(std::size_t first, std::size_t last, long long added) {
    std::fill(settled_.begin() + static_cast<std::ptrdiff_t>(first),
              settled_.begin() + static_cast<std::ptrdiff_t>(last), 1);
    Count(last - first, added);
}

void BatchWriter::Committed(const CommitRecord& record) {
    wrote_ = true;
    if (RidesOut()) commits_.push_back(record);
}

void BatchWriter::Doubtful(CommitRecord record) {
    doubts_.push_back(std::move(record));
}

void BatchWriter::RowRefused(std::size_t row, const std::exception_ptr& failure) {
    settled_.at(row) = 1;
    ++tally_.settled;
    RefusedRow refused{failure, std::nullopt, batch_first_ + static_cast<long long>(row) + 1};
    std::exception_ptr source_lost;
    try {
        refused.failure = Readable(failure);
        refused.values = RefusedValues(row);
    } catch (const WaitAbandoned&) {
        // The program is ending: the row is kept with what is at hand.
    } catch (const SourceLost&) {
        // The report goes out all the same, without the row's values.
        source_lost = std::current_exception();
    }
    // The report comes before the bar passes the row.
    if (!listener_.RowRefused(refused)) stop_after_batch_ = true;
    listener_.Progressed(tally_);
    if (source_lost) std::rethrow_exception(source_lost);
}

void BatchWriter::RefusalsComing(const std::vector<std::size_t>& rows) {
    // The source's texts of binary rows, read for all of them in one round trip rather than one
    // each. Where that fails, each row is asked for on its own and fares as it would have.
    if (!table_.binary || !texts_ || rows.size() < 2 || batch_.Adopted()) return;
    try {
        batch_.ReadTexts(rows, *texts_);
    } catch (const DbError&) {
    } catch (const SourceLost&) {
    } catch (const WaitAbandoned&) {
    }
}

void BatchWriter::Unchecked(std::size_t rows) {
    if (rows == 0) return;
    tally_.unchecked += static_cast<long long>(rows);
    unchecked_ = true;
}

std::optional<RowValues> BatchWriter::RefusedValues(std::size_t row) {
    if (std::optional<std::string> statement = batch_.TakeLetGoStatement())
        return InsertStatementValues(*statement, table_.quoted_name_in_transaction);
    try {
        return std::move(batch_.Texts(row, row + 1, table_.binary, table_.columns, texts_).front());
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        return std::nullopt;
    }
}

void BatchWriter::StopPoint() {
    // A program that ends after a stop still settles the batch it sent, within the grace.
    if (pacer_.Ending() && !stop_after_batch_) throw AppendStopped();
}

void BatchWriter::ThrowIfRunEnds(const std::exception_ptr& failure) {
    if (!failure) return;
    switch (ReachOf(failure, table_.row_security)) {
        case FailureReach::Row:
            return;
        case FailureReach::Table:
            if (!TableChanged()) return;
            break;
        case FailureReach::Run:
            break;
    }
    std::rethrow_exception(Readable(failure));
}

bool BatchWriter::TableChanged() {
    // Without the shape the run started with, nothing tells a row's failure from the table's.
    if (table_.column_types.empty()) return true;
    try {
        const PgResultPtr shape = ExecuteAwaited(
            destination_.Handle(), ColumnTypesQuery(destination_, table_.quoted_name), pacer_);
        return !SameTypes(ReadColumnTypes(shape.get()), table_.column_types);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        return true;  // not found under its name any more
    }
}

std::exception_ptr BatchWriter::Readable(const std::exception_ptr& failure) {
    if (!table_.messages_in_server_encoding) return failure;
    PGconn* conn = destination_.Handle();
    if (PQstatus(conn) != CONNECTION_OK || PQtransactionStatus(conn) != PQTRANS_IDLE)
        return failure;
    try {
        std::rethrow_exception(failure);
    } catch (const BrokenConnection&) {
        return failure;
    } catch (const DbError& error) {
        // The server converts with its own tables, whatever the database's encoding.
        try {
            const PgResultPtr converted =
                ExecuteAwaited(conn,
                               "SELECT convert(" + ByteaLiteral(conn, error.what()) +
                                   ", current_setting('server_encoding'), 'UTF8')",
                               pacer_);
            return std::make_exception_ptr(
                DbError(UnescapeBytea(PQgetvalue(converted.get(), 0, 0)), error.sqlstate()));
        } catch (const DbError&) {
            return failure;
        }
    } catch (...) {
        return failure;
    }
}

}  // namespace trp
