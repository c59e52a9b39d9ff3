#include "append/one_by_one.h"

#include <cstdlib>
#include <utility>

#include "append/pipeline_results.h"
#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

// A statement around the rows that failed for itself, not skipped after an earlier failure.
bool FailedOnItsOwn(const PGresult* result) {
    return !Succeeded(result) && PQresultStatus(result) != PGRES_PIPELINE_ABORTED;
}

const std::string kRowSavepoint = "SAVEPOINT row";
const std::string kBackToRow = "ROLLBACK TO SAVEPOINT row";
const std::string kReleaseRow = "RELEASE SAVEPOINT row";

}  // namespace

RowsAlone SendRowsAlone(PGconn* conn, EventPacer& pacer, const std::vector<std::string>& before,
                        const std::vector<std::string>& statements) {
    RowsAlone sent;
    sent.rows.resize(statements.size());
    if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
    for (const std::string& statement : before) SendStatement(conn, statement);
    SendStatement(conn, kRowSavepoint);
    // A sync after each row ends the skipping that follows a refusal; the next row first goes
    // back to the savepoint before it, which undoes nothing after a row that went in.
    for (std::size_t i = 0; i < statements.size(); ++i) {
        SendStatement(conn, kBackToRow);
        SendStatement(conn, statements[i]);
        SendStatement(conn, kReleaseRow);
        SendStatement(conn, kRowSavepoint);
        if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
        if ((i + 1) % 64 == 0) FlushOutput(conn, pacer);
    }
    ResultStream results(conn, pacer);
    std::exception_ptr opening;
    for (std::size_t i = 0; i <= before.size(); ++i) {
        const PgResultPtr result = NextResult(conn, results);
        if (FailedOnItsOwn(result.get()) && !opening) opening = FailureOf(result.get(), conn);
    }
    for (PieceResult& row : sent.rows) {
        std::exception_ptr around = std::exchange(opening, nullptr);
        const PgResultPtr back = NextResult(conn, results);
        if (FailedOnItsOwn(back.get()) && !around) around = FailureOf(back.get(), conn);
        const PgResultPtr inserted = NextResult(conn, results);
        if (PQresultStatus(inserted.get()) == PGRES_COMMAND_OK) {
            row.added = std::atoll(PQcmdTuples(inserted.get()));
        } else if (!around && PQresultStatus(inserted.get()) != PGRES_PIPELINE_ABORTED) {
            row.failure = FailureOf(inserted.get(), conn);
            row.failure_is_the_rows = true;
        }
        for (int statement = 0; statement < 2; ++statement) {
            const PgResultPtr result = NextResult(conn, results);
            if (FailedOnItsOwn(result.get()) && !around && !row.failure)
                around = FailureOf(result.get(), conn);
        }
        AwaitSync(conn, results, around);
        if (around && !row.failure) {
            row.failure = AsRunFailure(around);
            row.failure_is_the_rows = false;
        }
        row.stored = !row.failure;
    }
    PQexitPipelineMode(conn);
    sent.next = {"RELEASE SAVEPOINT piece", "SAVEPOINT piece"};
    if (!sent.rows.empty() && !sent.rows.back().stored)
        sent.next.insert(sent.next.begin(), kBackToRow);
    return sent;
}

}  // namespace trp
