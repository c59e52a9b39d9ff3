#include "append/destination_features.h"

#include <string_view>
#include <vector>

#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/server_version.h"

namespace trp {
namespace {

// One row per feature that COPY treats differently from INSERT, over the table and, for a
// partitioned table, every partition below it:
// - anything but a plain or partitioned table (views, foreign tables): COPY is refused or
//   goes through other code;
// - row-level security: COPY FROM is refused where policies apply;
// - rules: COPY ignores them;
// - triggers of the user: COPY fires statement triggers once for the whole batch, queues row
//   triggers' AFTER events to its end and runs BEFORE triggers without the earlier rows of
//   the batch visible;
// - identity columns GENERATED ALWAYS: INSERT refuses a value for them, COPY takes it;
// - generated columns (12 and later): COPY leaves them out of its column list, INSERT counts
//   them;
// - foreign keys within the table itself: COPY checks them after the whole batch, so a row
//   may refer to a later one, which INSERT refuses;
// - check constraints, of the table or of a domain its columns use, that call a function
//   which is not immutable: such a function may look at the table, where COPY does not show
//   it the earlier rows of the same batch.
std::string FeatureQuery(const Connection& destination, const std::string& quoted_table,
                         const ServerVersion& server) {
    const std::string target = destination.QuoteLiteral(quoted_table) + "::regclass";
    return "WITH RECURSIVE tree(oid) AS (SELECT " + target +
           "::oid UNION SELECT i.inhrelid FROM pg_inherits i JOIN tree t ON i.inhparent = t.oid), "
           "domains(oid) AS (SELECT a.atttypid FROM pg_attribute a WHERE a.attrelid = " +
           target +
           " AND a.attnum > 0 UNION SELECT v.oid FROM pg_type y JOIN domains m ON y.oid = m.oid "
           " CROSS JOIN LATERAL (VALUES (y.typbasetype), (y.typelem)) v(oid) WHERE v.oid <> 0), "
           "ancestors(oid) AS (SELECT " +
           target +
           "::oid UNION SELECT i.inhparent FROM pg_inherits i JOIN ancestors a ON i.inhrelid = "
           "a.oid), "
           "family(oid) AS (SELECT oid FROM tree UNION SELECT oid FROM ancestors) "
           "SELECT 'relation kind ' || c.relkind::text FROM tree t JOIN pg_class c ON c.oid = "
           "t.oid "
           " WHERE c.relkind NOT IN ('r', 'p') "
           "UNION ALL SELECT 'row-level security' FROM tree t JOIN pg_class c ON c.oid = t.oid "
           " WHERE c.relrowsecurity "
           "UNION ALL SELECT 'rule ' || r.rulename FROM tree t JOIN pg_rewrite r "
           " ON r.ev_class = t.oid "
           "UNION ALL SELECT 'trigger ' || g.tgname FROM tree t JOIN pg_trigger g "
           " ON g.tgrelid = t.oid WHERE NOT g.tgisinternal "
           "UNION ALL SELECT 'identity column ' || a.attname FROM pg_attribute a "
           " WHERE a.attrelid = " +
           target +
           " AND a.attnum > 0 AND NOT a.attisdropped "
           " AND a.attidentity = 'a' " +
           (server.HasGeneratedColumns()
                ? "UNION ALL SELECT 'generated column ' || a.attname FROM pg_attribute a "
                  " WHERE a.attrelid = " +
                      target +
                      " AND a.attnum > 0 AND NOT a.attisdropped "
                      " AND a.attgenerated <> '' "
                : std::string()) +
           "UNION ALL SELECT 'self-referencing foreign key ' || k.conname FROM tree t "
           " JOIN pg_constraint k ON k.conrelid = t.oid WHERE k.contype = 'f' "
           " AND k.confrelid IN (SELECT oid FROM family) "
           "UNION ALL SELECT 'constraint ' || k.conname || ' calls ' || p.proname "
           " FROM pg_constraint k JOIN pg_depend d ON d.classid = 'pg_constraint'::regclass "
           " AND d.objid = k.oid AND d.refclassid = 'pg_proc'::regclass "
           " JOIN pg_proc p ON p.oid = d.refobjid "
           " WHERE p.provolatile <> 'i' AND (k.conrelid IN (SELECT oid FROM tree) "
           " OR k.contypid IN (SELECT oid FROM domains))";
}

}  // namespace

DestinationFeatures DetectDestinationFeatures(Connection& destination,
                                              const std::string& quoted_table, EventPacer& pacer) {
    PGconn* conn = destination.Handle();
    const std::string sql = FeatureQuery(destination, quoted_table, ServerVersion::Of(conn)) +
                            "; " + ColumnTypesQuery(destination, quoted_table) +
                            "; SELECT EXISTS (SELECT FROM pg_constraint WHERE contype = 'f' AND "
                            "conrelid = " +
                            destination.QuoteLiteral(quoted_table) +
                            "::regclass), (SELECT relname FROM pg_class WHERE oid = " +
                            destination.QuoteLiteral(quoted_table) +
                            "::regclass), EXISTS (WITH RECURSIVE tree(oid) AS (SELECT " +
                            destination.QuoteLiteral(quoted_table) +
                            "::regclass::oid UNION SELECT i.inhrelid FROM pg_inherits i JOIN tree "
                            "t ON i.inhparent = t.oid) SELECT FROM pg_index x JOIN tree t ON "
                            "x.indrelid = t.oid WHERE x.indisunique OR x.indisexclusion)";
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream stream(conn, pacer);
    std::vector<PgResultPtr> results;
    while (PgResultPtr result = stream.Next()) results.push_back(std::move(result));
    if (stream.Failure()) std::rethrow_exception(stream.Failure());
    if (results.size() != 3) ThrowConnectionFailure(conn);

    DestinationFeatures features;
    const PGresult* found = results[0].get();
    features.copy_equivalent = PQntuples(found) == 0;
    if (!features.copy_equivalent) features.reason = PQgetvalue(found, 0, 0);
    for (int row = 0; row < PQntuples(found); ++row)
        if (std::string_view(PQgetvalue(found, row, 0)) == "row-level security")
            features.row_security = true;
    features.columns = ReadColumnTypes(results[1].get());
    features.foreign_keys = PQgetvalue(results[2].get(), 0, 0)[0] == 't';
    features.relation_name = PQgetvalue(results[2].get(), 0, 1);
    features.unique_keys = PQgetvalue(results[2].get(), 0, 2)[0] == 't';
    return features;
}

bool ChecksConnections(Connection& destination, EventPacer& pacer) {
    if (!ServerVersion::Of(destination.Handle()).ChecksClientConnection()) return false;
    try {
        ExecuteAwaited(destination.Handle(),
                       "SELECT set_config('client_connection_check_interval', '10000', true)",
                       pacer);
        return true;
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
        return false;
    }
}

}  // namespace trp
