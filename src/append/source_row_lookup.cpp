#include "append/source_row_lookup.h"

#include <vector>

#include "append/session_settings.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/db_error.h"

namespace trp {

SourceRowLookup::SourceRowLookup(std::string connection_string, std::string quoted_table,
                                 std::string select_list, std::string snapshot, EventPacer& pacer)
    : connection_string_(std::move(connection_string)),
      quoted_table_(std::move(quoted_table)),
      select_list_(std::move(select_list)),
      snapshot_(std::move(snapshot)),
      pacer_(pacer) {}

SourceRowLookup::~SourceRowLookup() {
    if (session_) pacer_.Unwatch(session_->Handle());
}

RowValues SourceRowLookup::Texts(const RowLocator& row) {
    if (snapshot_.empty()) throw DbError("the source's snapshot cannot be shared");
    if (!session_) {
        Connection session;
        session.Open(connection_string_, &pacer_);
        session_ = std::move(session);
        pacer_.Watch(session_->Handle(), connection_string_);
    }
    PGconn* conn = session_->Handle();
    // A transaction of its own for each row: nothing stays open between two refused rows.
    const std::string sql =
        "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SET TRANSACTION SNAPSHOT " +
        session_->QuoteLiteral(snapshot_) + "; SELECT " + SetLocally(SourceSettings(false)) +
        "; SELECT " + select_list_ + " FROM " + quoted_table_ +
        " WHERE tableoid = " + std::to_string(row.table) + " AND ctid = '(" +
        std::to_string(row.block) + "," + std::to_string(row.item) + ")'; COMMIT";
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer_);
    std::vector<PgResultPtr> answers;
    while (PgResultPtr result = results.Next()) answers.push_back(std::move(result));
    if (results.Failure()) std::rethrow_exception(results.Failure());
    const PGresult* found = answers.size() == 5 ? answers[3].get() : nullptr;
    if (!found || PQntuples(found) != 1)
        throw DbError("a row of the source could not be read again where it is stored");
    RowValues values;
    for (int i = 0; i < PQnfields(found); ++i) {
        if (PQgetisnull(found, 0, i)) {
            values.emplace_back();
        } else {
            values.emplace_back(std::string(PQgetvalue(found, 0, i),
                                            static_cast<std::size_t>(PQgetlength(found, 0, i))));
        }
    }
    return values;
}

}  // namespace trp
