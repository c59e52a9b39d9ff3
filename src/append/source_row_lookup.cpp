#include "append/source_row_lookup.h"

#include <map>
#include <utility>
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

std::vector<RowValues> SourceRowLookup::Texts(const std::vector<RowLocator>& rows) {
    if (rows.empty()) return {};
    if (snapshot_.empty()) throw DbError("the source's snapshot cannot be shared");
    if (!session_) {
        Connection session;
        session.Open(connection_string_, &pacer_);
        session_ = std::move(session);
        pacer_.Watch(session_->Handle(), connection_string_);
        // One transaction for the run's lookups, reading the source's snapshot with its output
        // settings; it may wait idle between two refusals (the settings exempt it from the
        // idle-transaction time-out) and ends with the session.
        ExecuteAwaited(session_->Handle(),
                       "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SET TRANSACTION "
                       "SNAPSHOT " +
                           session_->QuoteLiteral(snapshot_) + "; SELECT " +
                           SetLocally(SourceSettings(false)),
                       pacer_);
    }
    PGconn* conn = session_->Handle();
    const auto place = [](std::uint32_t block, std::uint16_t item) {
        std::string text = "(";
        text += std::to_string(block);
        text += ',';
        text += std::to_string(item);
        text += ')';
        return text;
    };
    std::string places;
    for (const RowLocator& row : rows) {
        if (!places.empty()) places += ", ";
        places += '\'';
        places += place(row.block, row.item);
        places += '\'';
    }
    // A partitioned or inherited table may hold the same place in several of its tables; the
    // table's id tells them apart.
    const std::string sql = "SELECT tableoid, ctid, " + select_list_ + " FROM " + quoted_table_ +
                            " WHERE ctid = ANY (ARRAY[" + places + "]::tid[])";
    PgResultPtr answer;
    try {
        answer = ExecuteAwaited(conn, sql, pacer_);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        // The lookups' transaction cannot go on: the next lookup starts afresh.
        pacer_.Unwatch(conn);
        session_.reset();
        throw;
    }
    const PGresult* found = answer.get();
    if (!found || PQresultStatus(found) != PGRES_TUPLES_OK)
        throw DbError("rows of the source could not be read again where they are stored");
    std::map<std::pair<std::string, std::string>, int> at;
    for (int i = 0; i < PQntuples(found); ++i)
        at[{PQgetvalue(found, i, 0), PQgetvalue(found, i, 1)}] = i;
    std::vector<RowValues> texts;
    texts.reserve(rows.size());
    for (const RowLocator& row : rows) {
        const auto hit = at.find({std::to_string(row.table), place(row.block, row.item)});
        if (hit == at.end())
            throw DbError("a row of the source could not be read again where it is stored");
        RowValues& values = texts.emplace_back();
        for (int column = 2; column < PQnfields(found); ++column) {
            if (PQgetisnull(found, hit->second, column)) {
                values.emplace_back();
            } else {
                values.emplace_back(
                    std::string(PQgetvalue(found, hit->second, column),
                                static_cast<std::size_t>(PQgetlength(found, hit->second, column))));
            }
        }
    }
    return texts;
}

}  // namespace trp
