#include "append/one_by_one.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
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

// One statement prepared for a run of rows, under a name no other run shares, even on a server
// session a pooler hands from client to client.
std::string PreparedName() {
    static const unsigned long long process =
        (static_cast<unsigned long long>(std::random_device{}()) << 32) ^ std::random_device{}();
    static std::atomic<unsigned long long> runs{0};
    char name[48];
    std::snprintf(name, sizeof name, "trp_rows_%016llx_%llu", process, ++runs);
    return name;
}

// A prepared row's refusal in the words its own statement gets: from the row's values, where no
// statement's text could show, nor any context.
bool InItsStatementsWords(const PGresult* result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return (state && std::string_view(state).starts_with("23")) &&
           !PQresultErrorField(result, PG_DIAG_CONTEXT) &&
           !PQresultErrorField(result, PG_DIAG_STATEMENT_POSITION) &&
           !PQresultErrorField(result, PG_DIAG_INTERNAL_POSITION);
}

// The rows' own INSERT statements, or (`values` set) their values for the statement prepared
// under the name `prepared`.
struct RowStatements {
    const std::vector<std::string>* statements = nullptr;
    const std::vector<RowValues>* values = nullptr;
    std::string prepared;
    std::size_t Size() const { return values ? values->size() : statements->size(); }
};

void SendRow(PGconn* conn, const RowStatements& rows, std::size_t i) {
    if (!rows.values) {
        SendStatement(conn, (*rows.statements)[i]);
        return;
    }
    const RowValues& values = (*rows.values)[i];
    std::vector<const char*> parameters;
    parameters.reserve(values.size());
    for (const auto& value : values) parameters.push_back(value ? value->c_str() : nullptr);
    if (!PQsendQueryPrepared(conn, rows.prepared.c_str(), static_cast<int>(parameters.size()),
                             parameters.data(), nullptr, nullptr, 0))
        ThrowConnectionFailure(conn);
}

RowsAlone Send(PGconn* conn, EventPacer& pacer, const std::vector<std::string>& before,
               const RowStatements& rows, const std::string& insert) {
    const bool prepared = rows.values != nullptr;
    RowsAlone sent;
    sent.rows.resize(rows.Size());
    if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
    for (const std::string& statement : before) SendStatement(conn, statement);
    SendStatement(conn, kRowSavepoint);
    if (prepared && !PQsendPrepare(conn, rows.prepared.c_str(), insert.c_str(), 0, nullptr))
        ThrowConnectionFailure(conn);
    // A sync after each row ends the skipping that follows a refusal; the next row first goes
    // back to the savepoint before it, which undoes nothing after a row that went in.
    for (std::size_t i = 0; i < sent.rows.size(); ++i) {
        SendStatement(conn, kBackToRow);
        SendRow(conn, rows, i);
        SendStatement(conn, kReleaseRow);
        SendStatement(conn, kRowSavepoint);
        if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
        if ((i + 1) % 64 == 0) FlushOutput(conn, pacer);
    }
    // The prepared statement ends with the run, inside its transaction: a pooler may hand the
    // server's session to another client after it.
    if (prepared) {
        SendStatement(conn, kBackToRow);
        SendStatement(conn, "DEALLOCATE " + rows.prepared);
        if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);
    }
    ResultStream results(conn, pacer);
    std::exception_ptr opening;
    for (std::size_t i = 0; i <= before.size(); ++i) {
        const PgResultPtr result = NextResult(conn, results);
        if (FailedOnItsOwn(result.get()) && !opening) opening = FailureOf(result.get(), conn);
    }
    if (prepared && FailedOnItsOwn(NextResult(conn, results).get()) && !opening)
        sent.again_as_statements = true;
    for (PieceResult& row : sent.rows) {
        std::exception_ptr around = std::exchange(opening, nullptr);
        const PgResultPtr back = NextResult(conn, results);
        if (FailedOnItsOwn(back.get()) && !around) around = FailureOf(back.get(), conn);
        const PgResultPtr inserted = NextResult(conn, results);
        if (PQresultStatus(inserted.get()) == PGRES_COMMAND_OK) {
            row.added = std::atoll(PQcmdTuples(inserted.get()));
        } else if (!around && PQresultStatus(inserted.get()) != PGRES_PIPELINE_ABORTED) {
            if (prepared && !InItsStatementsWords(inserted.get())) sent.again_as_statements = true;
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
    sent.next = {"RELEASE SAVEPOINT piece", "SAVEPOINT piece"};
    if (prepared) {
        std::exception_ptr ending;
        const PgResultPtr back = NextResult(conn, results);
        if (FailedOnItsOwn(back.get())) ending = FailureOf(back.get(), conn);
        // A pooler that keeps prepared statements itself answers for them: the statement is its
        // to forget, and what failed is undone.
        if (FailedOnItsOwn(NextResult(conn, results).get()))
            sent.next.insert(sent.next.begin(), kBackToRow);
        AwaitSync(conn, results, ending);
        // Where a failure ends the run, the rows' outcomes say so, as those of statements would.
        const bool run_ends = std::any_of(sent.rows.begin(), sent.rows.end(), [](const auto& row) {
            return row.failure && !row.failure_is_the_rows;
        });
        if (ending && !run_ends) sent.again_as_statements = true;
    } else if (!sent.rows.empty() && !sent.rows.back().stored) {
        sent.next.insert(sent.next.begin(), kBackToRow);
    }
    PQexitPipelineMode(conn);
    return sent;
}

}  // namespace

RowsAlone SendRowsAlone(PGconn* conn, EventPacer& pacer, const std::vector<std::string>& before,
                        const std::vector<std::string>& statements) {
    return Send(conn, pacer, before, {&statements, nullptr, {}}, {});
}

RowsAlone SendPreparedRowsAlone(PGconn* conn, EventPacer& pacer,
                                const std::vector<std::string>& before, const std::string& insert,
                                const std::vector<RowValues>& rows) {
    return Send(conn, pacer, before, {nullptr, &rows, PreparedName()}, insert);
}

}  // namespace trp
