#include "append/pipeline_results.h"

#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {

bool Succeeded(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::exception_ptr FailureOf(const PGresult* result, const PGconn* conn) {
    try {
        CheckResult(result, conn);
        throw DbError("the statement did not run");
    } catch (const DbError&) {
        return std::current_exception();
    }
}

PgResultPtr NextResult(PGconn* conn, ResultStream& results) {
    PgResultPtr result = results.Next();
    if (!result) ThrowConnectionFailure(conn);
    while (results.Next()) {
    }
    return result;
}

void AwaitSync(PGconn* conn, ResultStream& results, std::exception_ptr& failure) {
    for (int quiet = 0;;) {
        const PgResultPtr result = results.Next();
        if (!result) {
            if (++quiet > 2) ThrowConnectionFailure(conn);
            continue;
        }
        if (PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) return;
        if (!failure) failure = FailureOf(result.get(), conn);
    }
}

}  // namespace trp
