#include "append/destination_writer.h"
#include "append/run_failure.h"
#include "append/settlement.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

// Rows one by one: each in a transaction of its own, after what came before them committed.

namespace trp {

std::string Settlement::OneByOneOpening() const {
    // They commit without waiting for the disk: a commit of their own waits for them all.
    std::string select = "SELECT ";
    if (!table_.lone_row_settings.empty()) select += table_.lone_row_settings + ", ";
    return select + "set_config('synchronous_commit', 'off', true)";
}

std::string Settlement::OneByOneClosing() const {
    // The id the row's INSERT was given, asked for after it: a refused row costs no id.
    return "SELECT " + table_.server.AssignedTransactionId() + ", transaction_timestamp()::text";
}

void Settlement::MakeDurable() {
    // A commit that waits for the log to reach the disk up to it waits for every commit before
    // it too. It waits at least for the local disk, whatever the session's own setting, and
    // where that asks for more (a standby's), for that too.
    ExecuteAwaited(destination_.Handle(),
                   "BEGIN; SELECT set_config('synchronous_commit', CASE WHEN "
                   "current_setting('synchronous_commit') = 'off' THEN 'local' ELSE "
                   "current_setting('synchronous_commit') END, true), " +
                       table_.server.CurrentTransactionId() + "; COMMIT",
                   pacer_);
}

std::vector<PieceResult> Settlement::OneByOne(std::size_t first, std::size_t last) {
    // They are transactions of their own: what came before them commits first.
    Commit();
    std::vector<std::string> statements = Statements(first, last);
    const OneByOneRun run = SendOneByOne(destination_.Handle(), pacer_, OneByOneOpening(),
                                         statements, OneByOneClosing());
    statements.clear();
    std::vector<PieceResult> results(last - first);
    std::size_t committed = 0;  // rows not yet known durable
    for (std::size_t i = 0; i < run.read; ++i) {
        const LoneRowOutcome& row = run.rows[i];
        if (!row.failure) {
            results[i].stored = true;
            results[i].added = row.added.value_or(0);
            ++committed;
        } else {
            // An opening refused is no row's doing.
            results[i].failure = row.opening_failed ? AsRunFailure(row.failure) : row.failure;
        }
    }
    if (!run.broken) {
        try {
            if (committed > 0) MakeDurable();
        } catch (const DbError&) {
            if (sink_.RidesOut() && !pacer_.Ending())
                DeferEach(run, first);
            else
                CheckEach(run, first);
            throw;
        } catch (const WaitAbandoned&) {
            sink_.Unchecked(committed);
            throw;
        }
        for (std::size_t i = 0; i < run.read; ++i) {
            if (run.rows[i].failure) continue;
            CommitRecord record{sink_.Doubt(run.rows[i].added), {}};
            record.commit.xid = run.rows[i].xid;
            record.commit.opened_at = run.rows[i].opened_at;
            record.outcomes.push_back({first + i, first + i + 1, results[i].added, nullptr});
            sink_.Committed(record);
        }
        return results;
    }
    // The connection went down, or the program is ending, part-way: what the server said
    // stands, but nothing of it is durable yet; the row being read may have committed, and so
    // may every row sent after it.
    std::size_t unknown = run.rows.size() - run.read;
    bool abandoned = false;
    try {
        std::rethrow_exception(run.broken);
    } catch (const WaitAbandoned&) {
        abandoned = true;
    } catch (...) {
    }
    if (sink_.RidesOut() && !abandoned && !pacer_.Ending()) {
        // Asked after once the destination is back; the rows sent after the one being read
        // never told their transactions' ids.
        DeferEach(run, first);
        if (run.read < run.rows.size()) {
            const LoneRowOutcome& doubtful = run.rows[run.read];
            CommitRecord record{sink_.Doubt(doubtful.added), {}};
            record.commit.xid = doubtful.xid;
            record.commit.opened_at = doubtful.opened_at;
            record.outcomes.push_back(
                {first + run.read, first + run.read + 1, doubtful.added.value_or(1), nullptr});
            if (doubtful.failure) {
                // Refused: its transaction did not commit.
                if (!doubtful.opening_failed) {
                    record.commit.xid.clear();
                    record.outcomes.front().failure = doubtful.failure;
                    sink_.Doubtful(std::move(record));
                }
                --unknown;
            } else if (!doubtful.xid.empty()) {
                sink_.Doubtful(std::move(record));
                --unknown;
            }
        }
        sink_.Unchecked(unknown);
        std::rethrow_exception(run.broken);
    }
    CheckEach(run, first);
    if (run.read < run.rows.size() && !abandoned && !pacer_.Ending()) {
        const LoneRowOutcome& doubtful = run.rows[run.read];
        InDoubtCommit doubt = sink_.Doubt(doubtful.added);
        doubt.xid = doubtful.xid;
        doubt.opened_at = doubtful.opened_at;
        switch (doubtful.failure
                    ? CommitStatus::Aborted
                    : CheckCommit(destination_.ConnectionString(), doubt, pacer_, limits_)) {
            case CommitStatus::Committed:
                sink_.Settled(first + run.read, first + run.read + 1, doubtful.added.value_or(1));
                --unknown;
                break;
            case CommitStatus::Aborted:
                --unknown;
                break;
            case CommitStatus::Unknown:
                break;
        }
    }
    sink_.Unchecked(unknown);
    std::rethrow_exception(run.broken);
}

void Settlement::DeferEach(const OneByOneRun& run, std::size_t first) {
    for (std::size_t i = 0; i < run.read; ++i) {
        const LoneRowOutcome& row = run.rows[i];
        // An opening refused is no row's doing, and no row's outcome.
        if (row.failure && row.opening_failed) continue;
        // A refused row stands whatever became of the others: a record without an id.
        CommitRecord record{sink_.Doubt(row.added), {}};
        if (!row.failure) {
            record.commit.xid = row.xid;
            record.commit.opened_at = row.opened_at;
        }
        record.outcomes.push_back({first + i, first + i + 1, row.added.value_or(0), row.failure});
        sink_.Doubtful(std::move(record));
    }
}

void Settlement::CheckEach(const OneByOneRun& run, std::size_t first) {
    bool unanswered = false;
    for (std::size_t i = 0; i < run.read; ++i) {
        const LoneRowOutcome& row = run.rows[i];
        if (row.failure) {
            // An opening refused is no row's doing, and no row's outcome.
            if (!row.opening_failed) sink_.RowRefused(first + i, row.failure);
            continue;
        }
        // Nothing written, nothing to ask after.
        if (row.xid.empty() && row.added == 0) {
            sink_.Settled(first + i, first + i + 1, 0);
            continue;
        }
        // One check that found no answer is enough: each may take the check's whole limits.
        if (pacer_.Ending() || unanswered) {
            sink_.Unchecked(1);
            continue;
        }
        InDoubtCommit doubt = sink_.Doubt(row.added);
        doubt.xid = row.xid;
        doubt.opened_at = row.opened_at;
        const CommitStatus status =
            CheckCommit(destination_.ConnectionString(), doubt, pacer_, limits_);
        if (status == CommitStatus::Committed)
            sink_.Settled(first + i, first + i + 1, row.added.value_or(1));
        if (status == CommitStatus::Unknown) {
            sink_.Unchecked(1);
            unanswered = true;
        }
    }
}

}  // namespace trp
