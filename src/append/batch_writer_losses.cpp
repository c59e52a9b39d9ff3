// What counts of a batch whose transaction was lost with its connection, or given up on as the
// program ends: by what became of its COMMIT.
#include "append/batch_writer.h"
#include "append/commit_check.h"
#include "catalogue/event_pacer.h"
#include "db/connection.h"

namespace trp {

void BatchWriter::Abandoned(const BatchTransaction& transaction, std::size_t rows) {
    // The program ends before the server answered: a COMMIT that went out may still happen.
    if (transaction.InDoubt()) Unchecked(rows);
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

void BatchWriter::CommitLost(bool in_doubt, CommitRecord record, long long stored) {
    if (!in_doubt) return;
    if (RidesOut() && !pacer_.Ending()) {
        // Asked after once the destination is back.
        Doubtful(std::move(record));
        return;
    }
    const CommitStatus status = pacer_.Ending() ? CommitStatus::Unknown
                                                : CheckCommit(destination_.ConnectionString(),
                                                              record.commit, pacer_, commit_check_);
    if (status == CommitStatus::Unknown) Unchecked(static_cast<std::size_t>(stored));
    if (status != CommitStatus::Committed) return;
    if (!record.commit.xid.empty()) Committed(record);
    HandOnAll(*this, record.outcomes);
}

void BatchWriter::Lost(BatchTransaction& transaction, std::size_t rows,
                       std::optional<long long> added) {
    if (transaction.Committed()) {
        Count(rows, added.value_or(static_cast<long long>(rows)));
        return;
    }
    if (!transaction.InDoubt()) return;
    // A program that is ending has no time to ask: the rows count as not checked.
    if (pacer_.Ending()) {
        Unchecked(rows);
        return;
    }
    if (RidesOut()) {
        // Asked after once the destination is back.
        const long long stored = added.value_or(static_cast<long long>(rows));
        CommitRecord doubt{Doubt(added), {{0, rows, stored, nullptr}}};
        doubt.commit.xid = transaction.Xid();
        doubt.commit.opened_at = transaction.OpenedAt();
        Doubtful(std::move(doubt));
        return;
    }
    switch (transaction.CheckLostCommit(Doubt(added), commit_check_)) {
        case CommitStatus::Committed:
            Count(rows, added.value_or(static_cast<long long>(rows)));
            break;
        case CommitStatus::Aborted:
            break;
        case CommitStatus::Unknown:
            Unchecked(rows);
            break;
    }
}

}  // namespace trp
