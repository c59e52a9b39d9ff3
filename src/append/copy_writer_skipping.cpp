// A COPY that skipped rows whose values it could not read: the skipped rows' reports, and the
// batch's commit.
#include <algorithm>

#include "append/copy_writer.h"
#include "append/insert_statement.h"
#include "append/one_by_one.h"
#include "append/run_failure.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {

CopyWriter::Outcome CopyWriter::EndSkippedRows(std::size_t rows, long long copied,
                                               std::vector<std::size_t> lines) {
    BatchTransaction& transaction = *transaction_;
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    const std::size_t stored =
        static_cast<std::size_t>(std::clamp<long long>(copied, 0, static_cast<long long>(rows)));
    // A program that is ending commits a batch only as it stands, every row taken.
    bool known = !(in_flight_ && stored < rows) && lines.size() == rows - stored &&
                 (lines.empty() || (lines.front() >= 1 && lines.back() <= rows));
    std::vector<SettledOutcome> outcomes;
    Outcome outcome;
    try {
        std::string before;
        if (known && !lines.empty()) {
            std::vector<std::string> statements;
            for (const std::size_t line : lines)
                statements.push_back(BuildInsertStatement(
                    table_.quoted_name_in_transaction,
                    batch_.Texts(line - 1, line, false, table_.columns, nullptr).front()));
            // Each alone, as its own INSERT statement: a refusal is in its words; anything
            // else (a row that goes in, a failure of the run) is for the usual settling.
            const RowsAlone sent =
                SendRowsAlone(destination_.Handle(), pacer_, {"SAVEPOINT piece"}, statements);
            std::size_t first = 0;
            for (std::size_t i = 0; i < lines.size() && known; ++i) {
                const PieceResult& row = sent.rows[i];
                known = !row.stored && row.failure_is_the_rows &&
                        ReachOf(row.failure, table_.row_security) == FailureReach::Row;
                const std::size_t at = lines[i] - 1;
                if (at > first)
                    outcomes.push_back({first, at, static_cast<long long>(at - first), nullptr});
                outcomes.push_back({at, at + 1, 0, row.failure});
                first = at + 1;
            }
            if (first < rows)
                outcomes.push_back({first, rows, static_cast<long long>(rows - first), nullptr});
            for (const std::string& statement : sent.next) before += statement + "; ";
        }
        if (!known) {
            skipping_pays_ = false;
            transaction.Ended(false);
            transaction.RollBack();
            transaction_.reset();
            // Settled the usual way, from the first row skipped as far as the notices tell.
            if (!lines.empty() && lines.front() >= 1 && lines.front() <= rows)
                outcome.failed_row = lines.front() - 1;
            return outcome;
        }
        const std::exception_ptr refused = transaction.Commit(before);
        if (refused) {
            // A check left to the end of the transaction refused one of the rows.
            outcome.failure = refused;
        } else {
            outcome.committed = true;
            outcome.added = static_cast<long long>(stored);
            outcome.xid = transaction.Xid();
            outcome.opened_at = transaction.OpenedAt();
            outcome.outcomes = std::move(outcomes);
        }
    } catch (const BrokenConnection&) {
        CommitRecord record{Doubt(static_cast<long long>(stored)), std::move(outcomes)};
        record.commit.xid = transaction.Xid();
        record.commit.opened_at = transaction.OpenedAt();
        CommitLost(transaction.InDoubt(), std::move(record), static_cast<long long>(stored));
        transaction_.reset();
        throw;
    } catch (const WaitAbandoned&) {
        Abandoned(transaction, stored);
        transaction_.reset();
        throw;
    }
    transaction_.reset();
    return outcome;
}

}  // namespace trp
