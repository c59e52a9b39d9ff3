#pragma once

#include <libpq-fe.h>

#include <exception>

#include "db/pg_handles.h"

namespace trp {

class ResultStream;

// The results of statements sent in libpq's pipeline mode, read one statement at a time.

// The statement's result says it ran (with rows or without).
bool Succeeded(const PGresult* result);
// The failure a statement's result carries.
std::exception_ptr FailureOf(const PGresult* result, const PGconn* conn);
// The result of the next statement, and the end of its results.
PgResultPtr NextResult(PGconn* conn, ResultStream& results);
// Reads up to the next sync point; a failure found on the way is `failure`'s, unless it holds
// one already.
void AwaitSync(PGconn* conn, ResultStream& results, std::exception_ptr& failure);

}  // namespace trp
