#include "append/one_by_one.h"

#include <cstdlib>

#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

std::exception_ptr FailureOf(const PGresult* result, const PGconn* conn) {
    try {
        CheckResult(result, conn);
        throw DbError("the statement did not run");
    } catch (const DbError&) {
        return std::current_exception();
    }
}

// The result of the next statement in a pipeline, and the end of its results.
PgResultPtr NextResult(PGconn* conn, ResultStream& results) {
    PgResultPtr result = results.Next();
    if (!result) ThrowConnectionFailure(conn);
    while (results.Next()) {
    }
    return result;
}

}  // namespace

OneByOneRun SendOneByOne(PGconn* conn, EventPacer& pacer, const std::string& opening,
                         const std::vector<std::string>& statements, const std::string& closing) {
    OneByOneRun run;
    run.rows.resize(statements.size());
    try {
        if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
        for (std::size_t i = 0; i < statements.size(); ++i) {
            SendStatement(conn, opening);
            SendStatement(conn, statements[i]);
            SendStatement(conn, closing);
            if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
            if ((i + 1) % 64 == 0) FlushOutput(conn, pacer);
        }
        ResultStream results(conn, pacer);
        for (; run.read < statements.size(); ++run.read) {
            LoneRowOutcome& row = run.rows[run.read];
            const PgResultPtr opened = NextResult(conn, results);
            if (PQresultStatus(opened.get()) != PGRES_TUPLES_OK) {
                row.failure = FailureOf(opened.get(), conn);
                row.opening_failed = true;
            }
            const PgResultPtr inserted = NextResult(conn, results);
            if (PQresultStatus(inserted.get()) == PGRES_COMMAND_OK)
                row.added = std::atoll(PQcmdTuples(inserted.get()));
            else if (!row.failure)
                row.failure = FailureOf(inserted.get(), conn);
            const PgResultPtr closed = NextResult(conn, results);
            if (PQresultStatus(closed.get()) == PGRES_TUPLES_OK) {
                row.xid = PQgetvalue(closed.get(), 0, 0);
                row.opened_at = PQgetvalue(closed.get(), 0, 1);
            } else if (!row.failure && PQresultStatus(closed.get()) != PGRES_PIPELINE_ABORTED) {
                row.failure = FailureOf(closed.get(), conn);
                row.opening_failed = true;
            }
            // The sync commits; a check deferred to the commit fails before its result.
            for (int quiet = 0;;) {
                const PgResultPtr result = results.Next();
                if (!result) {
                    if (++quiet > 2) ThrowConnectionFailure(conn);
                    continue;
                }
                if (PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) break;
                if (!row.failure) row.failure = FailureOf(result.get(), conn);
            }
        }
        PQexitPipelineMode(conn);
    } catch (const BrokenConnection&) {
        run.broken = std::current_exception();
    } catch (const WaitAbandoned&) {
        run.broken = std::current_exception();
    }
    return run;
}

}  // namespace trp
