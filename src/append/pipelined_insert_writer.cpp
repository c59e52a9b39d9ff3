#include "append/pipelined_insert_writer.h"

#include "append/copy_text_codec.h"
#include "append/event_pacer.h"
#include "append/insert_statement.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {
namespace {

void SendStatement(PGconn* conn, const std::string& sql) {
    if (!PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0))
        throw DbError(ErrorText(conn));
}

}  // namespace

PipelinedInsertWriter::PipelinedInsertWriter(Connection& destination, std::string table,
                                             const AppendOptions& options, EventPacer& pacer,
                                             RowFailureHandler on_failure)
    : BatchWriter(destination, std::move(table), options.insert_batch_rows, options.batch_bytes,
                  pacer, std::move(on_failure)) {}

PipelinedInsertWriter::Outcome PipelinedInsertWriter::Send(std::size_t first, std::size_t last) {
    PGconn* conn = destination_.Handle();
    Outcome outcome;
    if (!PQenterPipelineMode(conn)) return outcome;
    std::size_t sent = 0;  // statements sent, BEGIN and COMMIT included
    try {
        SendStatement(conn, "BEGIN");
        ++sent;
        for (std::size_t row = first; row < last; ++row) {
            SendStatement(conn, BuildInsertStatement(table_, DecodeCopyLine(batch_.Row(row))));
            ++sent;
            if (sent % 64 == 0) FlushOutput(conn, pacer_);
            pacer_.Tick();
        }
        SendStatement(conn, "COMMIT");
        ++sent;
        if (!PQpipelineSync(conn)) throw DbError(ErrorText(conn));

        bool failed = false;
        for (std::size_t statement = 0; statement < sent; ++statement) {
            PgResultPtr result = AwaitResult(conn, pacer_);
            if (!result) throw DbError(ErrorText(conn));
            const auto status = PQresultStatus(result.get());
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                // The first failure names its row; the statements after it are skipped.
                if (!failed && status != PGRES_PIPELINE_ABORTED && statement >= 1 &&
                    statement <= last - first)
                    outcome.failed_row = first + statement - 1;
                failed = true;
            }
            while (PgResultPtr rest = AwaitResult(conn, pacer_)) {
            }
        }
        PgResultPtr sync = AwaitResult(conn, pacer_);
        if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) failed = true;
        outcome.committed = !failed;
    } catch (const StopRequested&) {
        throw;
    } catch (const DbError&) {
        outcome = {};
    }
    if (PQpipelineStatus(conn) != PQ_PIPELINE_OFF) PQexitPipelineMode(conn);
    // A failed INSERT leaves the explicit transaction aborted but open.
    if (PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) != PQTRANS_IDLE) {
        try {
            ExecuteAwaited(conn, "ROLLBACK", pacer_);
        } catch (const DbError&) {
        }
    }
    return outcome;
}

}  // namespace trp
