#include "append/batch_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "append/column_types.h"
#include "append/copy_text_codec.h"
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

// After a refusal: the next batch's rows at most (doubling with each batch without one), the
// first piece of the rows after a refused row (doubling likewise), and how many rows go one by
// one while refusals come close together.
constexpr std::size_t kBatchAfterRefusal = 16384;
constexpr std::size_t kFirstPiece = 64;
constexpr std::size_t kOneByOneRows = 256;

// The result of the next statement in a pipeline, and the end of its results.
PgResultPtr NextResult(PGconn* conn, ResultStream& results) {
    PgResultPtr result = results.Next();
    if (!result) ThrowConnectionFailure(conn);
    while (results.Next()) {
    }
    return result;
}

// A failure that ends the run whatever its SQLSTATE says.
std::exception_ptr AsRunFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& error) {
        return std::make_exception_ptr(DbError(error.what()));
    } catch (...) {
        return std::current_exception();
    }
}

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
      max_rows_(max_rows == 0 ? 1 : max_rows),
      max_bytes_(options.batch_bytes),
      commit_check_(options.commit_check),
      listener_(listener),
      texts_(texts),
      watched_(destination.Handle()) {
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
    RowAdded();
    const std::size_t rows = batch_.Rows();
    if (rows >= batch_limit_ || batch_.Bytes() >= max_bytes_ ||
        (rows % 64 == 0 && Clock::now() - batch_started_ >= kBatchTime))
        Flush();
}

void BatchWriter::AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) {
    // A batch of its own, held where libpq put it rather than copied.
    Flush();
    batch_started_ = Clock::now();
    batch_.Adopt(std::move(buffer), row, table_.binary, at);
    RowAdded();
    Flush();
}

void BatchWriter::Finish() {
    Flush();
}

void BatchWriter::FinishInFlight() {
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    ClearOnExit clear{batch_};
    try {
        const Outcome outcome = SendBatch();
        if (outcome.committed) {
            tally_.settled += static_cast<long long>(rows);
            tally_.added += outcome.added;
        }
    } catch (const DbError&) {
        // Nothing more is shown: the program is ending.
    }
}

void BatchWriter::Flush() {
    const std::size_t rows = batch_.Rows();
    if (rows == 0) return;
    ClearOnExit clear{batch_};
    const long long refused_before = refusals_;
    last_refused_ = 0;
    close_refusals_ = false;
    const Outcome first_try = SendBatch();
    if (first_try.committed) {
        Count(rows, first_try.added);
    } else {
        resolving_ = true;
        try {
            Resolve(0, rows, first_try);
        } catch (...) {
            resolving_ = false;
            // What was settled before the failure stands.
            try {
                SettlePending();
            } catch (const DbError&) {
            }
            throw;
        }
        resolving_ = false;
        SettlePending();
    }
    if (stop_after_batch_) throw AppendStopped();
    // Where rows are refused, a failed batch costs its rows again: small ones then.
    batch_limit_ = refusals_ > refused_before ? std::min(max_rows_, kBatchAfterRefusal)
                                              : std::min(max_rows_, batch_limit_ * 2);
}

TransactionSetup BatchWriter::Setup(std::string begin, std::string snapshot) const {
    return TransactionSetup{std::move(begin), std::move(snapshot), Settings()};
}

std::string BatchWriter::Settings() const {
    if (!resolving_) return table_.settings;
    const std::string async = "set_config('synchronous_commit', 'off', true)";
    return table_.settings.empty() ? async : table_.settings + ", " + async;
}

void BatchWriter::Resolve(std::size_t first, std::size_t last, const Outcome& outcome) {
    if (outcome.committed) {
        Committed(last - first, outcome.added, outcome.xid, outcome.opened_at);
        return;
    }
    ThrowIfRunEnds(outcome.failure);
    if (outcome.lone_insert) {
        Refused(first, outcome.failure);
        return;
    }
    if (outcome.failed_row && *outcome.failed_row >= first && *outcome.failed_row < last) {
        // The rows before the failing one went through in this very order already.
        const std::size_t failed = *outcome.failed_row;
        Settle(first, failed);
        SendSingle(failed);
        SettleAfterRefusal(failed + 1, last);
    } else {
        SettleHalves(first, last);
    }
}

void BatchWriter::Settle(std::size_t first, std::size_t last) {
    if (first >= last) return;
    if (last - first == 1) {
        SendSingle(first);
        return;
    }
    StopPoint();
    Resolve(first, last, Send(first, last));
}

void BatchWriter::SettleHalves(std::size_t first, std::size_t last) {
    if (first >= last) return;
    const std::size_t middle = first + (last - first + 1) / 2;
    Settle(first, middle);
    Settle(middle, last);
}

void BatchWriter::SettleAfterRefusal(std::size_t from, std::size_t last) {
    // The rows of a piece before its refused row are sent twice, and every piece costs a
    // transaction of a few hundred rows' work: with refused rows g rows apart, pieces of about
    // sqrt(500 g) rows weigh the one against the other. They grow while no row is refused.
    const auto after_refusal = [this] {
        return std::max(kFirstPiece, static_cast<std::size_t>(
                                         std::sqrt(500.0 * static_cast<double>(refusal_gap_))));
    };
    std::size_t piece = after_refusal();
    while (from < last) {
        StopPoint();
        if (close_refusals_) {
            const long long refused_before = refusals_;
            const std::size_t end = std::min(last, from + kOneByOneRows);
            SettleOneByOne(from, end);
            // None refused among them: pieces again.
            if (refusals_ == refused_before) close_refusals_ = false;
            from = end;
            piece = after_refusal();
            continue;
        }
        const std::size_t end = std::min(last, from + piece);
        if (end - from == 1) {
            SendSingle(from);
            from = end;
            continue;
        }
        const Outcome outcome = Send(from, end);
        if (outcome.committed) {
            Committed(end - from, outcome.added, outcome.xid, outcome.opened_at);
            from = end;
            piece *= 2;
            continue;
        }
        ThrowIfRunEnds(outcome.failure);
        if (outcome.failed_row && *outcome.failed_row >= from && *outcome.failed_row < end) {
            // Past the refused row, the rest of the batch follows, not just the piece's.
            const std::size_t failed = *outcome.failed_row;
            Settle(from, failed);
            SendSingle(failed);
            from = failed + 1;
            piece = after_refusal();
        } else {
            SettleHalves(from, end);
            from = end;
        }
    }
}

void BatchWriter::SettleOneByOne(std::size_t first, std::size_t last) {
    StopPoint();
    // Binary rows are read again as text before anything goes out.
    const std::vector<RowValues> values = TextValues(first, last);

    struct RowOutcome {
        std::optional<long long> added;  // once the INSERT's result was read
        std::exception_ptr failure;
        std::string xid;
        std::string opened_at;
    };
    std::vector<RowOutcome> outcomes(values.size());
    PGconn* conn = destination_.Handle();
    const std::string settings = Settings();
    const std::string opening = "SELECT " + (settings.empty() ? std::string() : settings + ", ") +
                                table_.server.CurrentTransactionId() +
                                ", statement_timestamp()::text";
    const auto failure_of = [conn](const PGresult* result) {
        try {
            CheckResult(result, conn);
            throw DbError("the statement did not run");
        } catch (const DbError&) {
            return std::current_exception();
        }
    };
    std::size_t reading = 0;  // the row whose results are being read
    try {
        if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
        // Each row a transaction of its own: its statements up to a sync are one implicit
        // transaction, which the sync commits, or rolls back after a failure.
        for (std::size_t i = 0; i < values.size(); ++i) {
            SendStatement(conn, opening);
            SendStatement(conn, BuildInsertStatement(table_.quoted_name_in_transaction, values[i]));
            if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
            if ((i + 1) % 64 == 0) FlushOutput(conn, pacer_);
        }
        ResultStream results(conn, pacer_);
        for (; reading < values.size(); ++reading) {
            RowOutcome& outcome = outcomes[reading];
            const PgResultPtr opened = NextResult(conn, results);
            if (PQresultStatus(opened.get()) == PGRES_TUPLES_OK) {
                outcome.xid = PQgetvalue(opened.get(), 0, PQnfields(opened.get()) - 2);
                outcome.opened_at = PQgetvalue(opened.get(), 0, PQnfields(opened.get()) - 1);
            } else {
                // Its settings were refused: no row's doing.
                outcome.failure = AsRunFailure(failure_of(opened.get()));
            }
            const PgResultPtr inserted = NextResult(conn, results);
            if (PQresultStatus(inserted.get()) == PGRES_COMMAND_OK)
                outcome.added = std::atoll(PQcmdTuples(inserted.get()));
            else if (!outcome.failure)
                outcome.failure = failure_of(inserted.get());
            // The sync commits; a check deferred to the commit fails before its result.
            for (int quiet = 0;;) {
                const PgResultPtr result = results.Next();
                if (!result) {
                    if (++quiet > 2) ThrowConnectionFailure(conn);
                    continue;
                }
                if (PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) break;
                if (!outcome.failure) outcome.failure = failure_of(result.get());
            }
        }
        PQexitPipelineMode(conn);
    } catch (const BrokenConnection&) {
        // What the server said before the connection went down stands; the row whose results
        // were being read may have committed, and so may the rows sent after it.
        for (std::size_t i = 0; i < reading; ++i) {
            if (outcomes[i].failure)
                Refused(first + i, outcomes[i].failure);
            else
                Committed(1, outcomes[i].added.value_or(0), outcomes[i].xid, outcomes[i].opened_at);
        }
        if (reading < values.size() && !pacer_.Ending()) {
            const RowOutcome& doubtful = outcomes[reading];
            InDoubtCommit doubt = Doubt(doubtful.added);
            doubt.xid = doubtful.xid;
            doubt.opened_at = doubtful.opened_at;
            const CommitStatus status =
                doubtful.failure
                    ? CommitStatus::Aborted
                    : CheckCommit(destination_.ConnectionString(), doubt, pacer_, commit_check_);
            if (status == CommitStatus::Committed)
                Committed(1, doubtful.added.value_or(1), doubtful.xid, doubtful.opened_at);
            if (status == CommitStatus::Unknown) ++tally_.unchecked;
            tally_.unchecked += static_cast<long long>(values.size() - reading - 1);
        }
        throw;
    } catch (const WaitAbandoned&) {
        // The program ends before the server answered: what it said stands, and every row from
        // the one being read on may have committed with its sync.
        for (std::size_t i = 0; i < reading; ++i) {
            if (outcomes[i].failure)
                Refused(first + i, outcomes[i].failure);
            else
                Committed(1, outcomes[i].added.value_or(0), outcomes[i].xid, outcomes[i].opened_at);
        }
        tally_.unchecked += static_cast<long long>(values.size() - reading);
        throw;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!outcomes[i].failure) {
            Committed(1, outcomes[i].added.value_or(0), outcomes[i].xid, outcomes[i].opened_at);
            continue;
        }
        try {
            ThrowIfRunEnds(outcomes[i].failure);
        } catch (...) {
            // The rows after it that committed arrived all the same.
            for (std::size_t later = i + 1; later < values.size(); ++later)
                if (!outcomes[later].failure)
                    Committed(1, outcomes[later].added.value_or(0), outcomes[later].xid,
                              outcomes[later].opened_at);
            throw;
        }
        Refused(first + i, outcomes[i].failure);
    }
}

void BatchWriter::SendSingle(std::size_t row) {
    StopPoint();
    // A large row held alone goes as it always has, letting go of its buffer as it is sent;
    // any other in a transaction of its own that the sync ends, in one round trip.
    if (batch_.Adopted()) {
        Resolve(row, row + 1, SendInserts(row, row + 1));
        return;
    }
    SettleOneByOne(row, row + 1);
}

void BatchWriter::Committed(std::size_t rows, long long added, std::string xid,
                            std::string opened_at) {
    if (resolving_) {
        pending_.push_back({rows, added, std::move(xid), std::move(opened_at), 0, nullptr});
        return;
    }
    Count(rows, added);
}

void BatchWriter::Count(std::size_t rows, long long added) {
    tally_.settled += static_cast<long long>(rows);
    tally_.added += added;
    listener_.Progressed(tally_);
}

void BatchWriter::Refused(std::size_t row, const std::exception_ptr& failure) {
    ++refusals_;
    if (last_refused_ > 0) {
        refusal_gap_ = row + 1 - last_refused_;
        if (refusal_gap_ == 1) close_refusals_ = true;
    } else if (refusal_gap_ == 0) {
        refusal_gap_ = row + 1;
    }
    last_refused_ = row + 1;
    if (resolving_) {
        pending_.push_back({0, 0, {}, {}, row, failure});
        return;
    }
    Report(row, failure);
}

void BatchWriter::Report(std::size_t row, const std::exception_ptr& failure) {
    // Rows settle in source order, so the rows settled before this one are those before it.
    RefusedRow refused{failure, std::nullopt, tally_.settled + 1};
    try {
        refused.failure = Readable(failure);
        refused.values = RefusedValues(row);
    } catch (const WaitAbandoned&) {
        // The program is ending: the row is kept with what is at hand.
    }
    ++tally_.settled;
    // The report comes before the bar passes the row.
    if (!listener_.RowRefused(refused)) stop_after_batch_ = true;
    listener_.Progressed(tally_);
}

void BatchWriter::SettlePending() {
    std::vector<Settlement> pending = std::move(pending_);
    pending_.clear();
    if (pending.empty()) return;
    bool durable = std::none_of(pending.begin(), pending.end(),
                                [](const Settlement& s) { return s.rows > 0; });
    if (!durable && !pacer_.Ending()) {
        try {
            // A commit that waits for the log to reach the disk up to it waits for every commit
            // before it too. It waits at least for the local disk, whatever the session's own
            // setting, and where that asks for more (a standby's), for that too.
            ExecuteAwaited(destination_.Handle(),
                           "BEGIN; SELECT set_config('synchronous_commit', CASE WHEN "
                           "current_setting('synchronous_commit') = 'off' THEN 'local' ELSE "
                           "current_setting('synchronous_commit') END, true), " +
                               table_.server.CurrentTransactionId() + "; COMMIT",
                           pacer_);
            durable = true;
        } catch (const DbError&) {
        } catch (const WaitAbandoned&) {
            // The program is ending; what could not be made durable stays unchecked.
        }
    }
    bool unanswered = false;
    for (Settlement& settled : pending) {
        if (settled.rows == 0) {
            Report(settled.refused_row, settled.failure);
            continue;
        }
        if (durable) {
            Count(settled.rows, settled.added);
            continue;
        }
        // One check that found no answer is enough: each may take the check's whole limits, and
        // a batch settled one by one leaves hundreds. A program that is ending has no time.
        if (pacer_.Ending() || unanswered) {
            tally_.unchecked += static_cast<long long>(settled.rows);
            continue;
        }
        InDoubtCommit doubt = Doubt(settled.added);
        doubt.xid = settled.xid;
        doubt.opened_at = settled.opened_at;
        CommitStatus status = CommitStatus::Unknown;
        try {
            status = CheckCommit(destination_.ConnectionString(), doubt, pacer_, commit_check_);
        } catch (const WaitAbandoned&) {
        }
        switch (status) {
            case CommitStatus::Committed:
                Count(settled.rows, settled.added);
                break;
            case CommitStatus::Aborted:
                break;
            case CommitStatus::Unknown:
                tally_.unchecked += static_cast<long long>(settled.rows);
                unanswered = true;
                break;
        }
    }
}

std::optional<RowValues> BatchWriter::RefusedValues(std::size_t row) {
    if (std::optional<std::string> statement = batch_.TakeLetGoStatement())
        return InsertStatementValues(*statement, table_.quoted_name_in_transaction);
    try {
        return TextValues(row);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        return std::nullopt;
    }
}

void BatchWriter::StopPoint() const {
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

void BatchWriter::Abandoned(const BatchTransaction& transaction, std::size_t rows) {
    // The program ends before the server answered: a COMMIT that went out may still happen.
    if (transaction.InDoubt()) tally_.unchecked += static_cast<long long>(rows);
}

InDoubtCommit BatchWriter::Doubt(std::optional<long long> rows) const {
    InDoubtCommit doubt;
    doubt.life = server_life_;
    doubt.rows = rows;
    doubt.table = table_.quoted_name;
    // COPY and the move inside the server are chosen only where no trigger or rule is.
    doubt.rows_stay_in_table = Path() != AppendPath::Inserts;
    return doubt;
}

void BatchWriter::Lost(BatchTransaction& transaction, std::size_t rows,
                       std::optional<long long> added) {
    const auto count = [&] {
        Committed(rows, added.value_or(static_cast<long long>(rows)), transaction.Xid(),
                  transaction.OpenedAt());
    };
    if (transaction.Committed()) {
        count();
        return;
    }
    if (!transaction.InDoubt()) return;
    // A program that is ending has no time to ask: the rows count as not checked.
    if (pacer_.Ending()) {
        tally_.unchecked += static_cast<long long>(rows);
        return;
    }
    switch (transaction.CheckLostCommit(Doubt(added), commit_check_)) {
        case CommitStatus::Committed:
            count();
            break;
        case CommitStatus::Aborted:
            break;
        case CommitStatus::Unknown:
            tally_.unchecked += static_cast<long long>(rows);
            break;
    }
}

RowValues BatchWriter::TextValues(std::size_t row) {
    return std::move(TextValues(row, row + 1).front());
}

std::vector<RowValues> BatchWriter::TextValues(std::size_t first, std::size_t last) {
    std::vector<RowValues> values;
    values.reserve(last - first);
    if (!table_.binary) {
        for (std::size_t row = first; row < last; ++row)
            values.push_back(table_.columns == 0 ? RowValues{} : DecodeCopyLine(batch_.Row(row)));
        return values;
    }
    if (!texts_) throw DbError("the source's text of a binary row is not at hand");
    std::vector<RowLocator> missing;
    for (std::size_t row = first; row < last; ++row)
        if (!batch_.KeptTexts(row)) missing.push_back(batch_.Locator(row));
    if (!missing.empty()) {
        std::vector<RowValues> read = texts_->Texts(missing);
        std::size_t next = 0;
        for (std::size_t row = first; row < last; ++row)
            if (!batch_.KeptTexts(row)) batch_.KeepTexts(row, std::move(read.at(next++)));
    }
    for (std::size_t row = first; row < last; ++row) values.push_back(*batch_.KeptTexts(row));
    return values;
}

BatchWriter::Outcome BatchWriter::SendInserts(std::size_t first, std::size_t last) {
    const bool lone = last - first == 1;
    std::vector<RowValues> rows;
    // Binary rows are read again as text before the statements go out: a failure to read one
    // is the run's, not the row's.
    if (table_.binary) rows = TextValues(first, last);
    BeginInserts();
    for (std::size_t row = first; row < last; ++row) {
        SendInsert(row, table_.binary ? &rows[row - first] : nullptr, lone);
        pacer_.Tick();
    }
    return EndInserts(first, last);
}

void BatchWriter::BeginInserts() {
    transaction_.emplace(destination_, pacer_, Setup());
    transaction_->SendInPipeline();
    inserts_sent_ = 0;
}

void BatchWriter::SendInsert(std::size_t row, const RowValues* values, bool lone) {
    PGconn* conn = destination_.Handle();
    // The values are let go before the statement is handed to libpq: a value may be large. So
    // is a large row held alone: once its own statement is written, nothing sends it again
    // (refused, it is reported; committed, it is done). Only its statement stays, for the
    // record of a refusal.
    std::string sql =
        BuildInsertStatement(table_.quoted_name_in_transaction, values ? *values : TextValues(row));
    if (lone) batch_.LetGoOfAdopted();
    SendStatement(conn, sql);
    if (lone) batch_.KeepLetGoStatement(std::move(sql));
    if (++inserts_sent_ % 64 == 0) {
        FlushOutput(conn, pacer_);
        // The statements' results are taken in as they come, so that the server can always get
        // rid of them, also while the program waits for the source's next rows.
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
}

BatchWriter::Outcome BatchWriter::EndInserts(std::size_t first, std::size_t last) {
    PGconn* conn = destination_.Handle();
    BatchTransaction& transaction = *transaction_;
    Outcome outcome;
    outcome.lone_insert = last - first == 1;
    ResultStream results(conn, pacer_);
    try {
        // The statements' results come back before anything commits.
        if (!PQsendFlushRequest(conn)) ThrowConnectionFailure(conn);
        const bool open = transaction.ReadOpening(results);
        for (std::size_t row = first; row < last; ++row) {
            const PgResultPtr result = NextResult(conn, results);
            if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) {
                outcome.added += std::atoll(PQcmdTuples(result.get()));
            } else if (!outcome.failed_row &&
                       PQresultStatus(result.get()) != PGRES_PIPELINE_ABORTED) {
                // The first failure names its row; the statements after it are skipped.
                outcome.failed_row = row;
            }
        }
        outcome.failure = results.Failure();
        if (!open) {
            // Opening a transaction fails for no row's sake: the run cannot go on.
            transaction.Ended(false);
            transaction.RollBack();
            transaction_.reset();
            std::rethrow_exception(Readable(AsRunFailure(outcome.failure)));
        }
        if (!outcome.failure) {
            // A deferred check fails here; it is the row's own when the row went alone.
            outcome.failure = transaction.CommitPipeline(results);
            outcome.committed = !outcome.failure;
            if (outcome.committed) {
                outcome.xid = transaction.Xid();
                outcome.opened_at = transaction.OpenedAt();
            }
            if (outcome.failure && outcome.lone_insert) outcome.failed_row = first;
        } else {
            transaction.Ended(false);
            transaction.RollBack();
        }
    } catch (const BrokenConnection&) {
        Lost(transaction, last - first, outcome.added);
        transaction_.reset();
        throw;
    } catch (const WaitAbandoned&) {
        Abandoned(transaction, last - first);
        transaction_.reset();
        throw;
    }
    transaction_.reset();
    return outcome;
}

}  // namespace trp
