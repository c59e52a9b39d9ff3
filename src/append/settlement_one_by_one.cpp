#include <algorithm>
#include <optional>
#include <string>

#include "append/destination_writer.h"
#include "append/one_by_one.h"
#include "append/row_batch.h"
#include "append/run_failure.h"
#include "append/settlement.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"

// Rows one by one: each under a savepoint of its own, inside the settling's transaction.

namespace trp {

std::vector<PieceResult> Settlement::OneByOne(std::size_t first, std::size_t last) {
    // Every row that goes in is a subtransaction of its own, and so is the run around them: no
    // more of them than the transaction may still hold (see kPiecesPerTransaction). Refused
    // rows that wait for nothing written before them go on first, so that their reports come
    // before more rows go rather than at the end of the batch. A refusal stands whatever becomes
    // of the transaction, so they go on at once where no box waits for the user (which would
    // hold the transaction open meanwhile) and the server's messages need no converting (which
    // the destination does outside a transaction); after a commit otherwise.
    const bool only_refusals = std::none_of(
        pending_.begin(), pending_.end(), [](const Pending& outcome) { return !outcome.failure; });
    const bool at_once =
        only_refusals && !sink_.ReportsMayWait() && !table_.messages_in_server_encoding;
    if (pieces_ + 2 > kPiecesPerTransaction || (pieces_ == 0 && !pending_.empty() && !at_once))
        Commit();
    else if (pieces_ == 0)
        HandOn(pending_, InDoubtCommit{});
    Begin();
    last = std::min(last, first + static_cast<std::size_t>(kPiecesPerTransaction - pieces_ - 1));
    // A failure that may end the run leaves nothing of the rows after it in what commits: the
    // run is undone, and the rows before it go again (until they fare as they did).
    std::vector<PieceResult> rows;
    std::optional<PieceResult> ending;
    for (std::size_t end = last; end > first;) {
        rows = SendRows(first, end);
        const auto ends = std::find_if(rows.begin(), rows.end(), [&](const PieceResult& row) {
            return !row.stored && ReachOf(row.failure, table_.row_security) != FailureReach::Row;
        });
        if (ends == rows.end()) break;
        ending = std::move(*ends);
        end = first + static_cast<std::size_t>(ends - rows.begin());
        rows.clear();
        ExecuteAwaited(destination_.Handle(), "ROLLBACK TO SAVEPOINT piece", pacer_);
        next_.clear();
    }
    if (ending) rows.push_back(std::move(*ending));
    if (std::any_of(rows.begin(), rows.end(), [](const PieceResult& row) { return row.stored; }))
        ++pieces_;  // the run's own savepoint wrote through them
    return rows;
}

std::vector<PieceResult> Settlement::SendRows(std::size_t first, std::size_t last) {
    // Not where rows go as statements for the table's triggers or rules: what they see of the
    // statement (current_query()) would be the prepared one.
    if (prepare_rows_ && by_copy_ && !batch_.Adopted() && table_.columns > 0) {
        RowsAlone sent =
            SendPreparedRowsAlone(destination_.Handle(), pacer_, next_, PreparedInsert(),
                                  batch_.Texts(first, last, table_.binary, table_.columns, texts_));
        if (!sent.again_as_statements) {
            next_ = std::move(sent.next);
            return std::move(sent.rows);
        }
        // Refusals whose words only the rows' own statements tell (a value the column's type
        // cannot read, say): these rows and the rest of the batch go as statements.
        ExecuteAwaited(destination_.Handle(), "ROLLBACK TO SAVEPOINT piece", pacer_);
        next_.clear();
        prepare_rows_ = false;
    }
    std::vector<std::string> statements = Statements(first, last);
    RowsAlone sent = SendRowsAlone(destination_.Handle(), pacer_, next_, statements);
    if (batch_.Adopted()) batch_.KeepLetGoStatement(std::move(statements.front()));
    next_ = std::move(sent.next);
    return std::move(sent.rows);
}

std::string Settlement::PreparedInsert() const {
    std::string sql = "INSERT INTO " + table_.quoted_name_in_transaction + " VALUES(";
    for (int column = 1; column <= table_.columns; ++column)
        sql += (column > 1 ? ", $" : "$") + std::to_string(column);
    return sql + ')';
}

}  // namespace trp
