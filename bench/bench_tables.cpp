#include "bench_tables.h"

#include "bench_server.h"

namespace trp::bench {
namespace {

constexpr const char* kSixColumns =
    "(id bigint, name text, amount numeric(12,2), at timestamptz, flag boolean, note varchar(80))";

// Ten integers and ten short texts bring the wide table to thirty columns.
constexpr const char* kWideColumns =
    "(id bigint, amount numeric(14,4), ratio numeric, created timestamptz, updated timestamptz, "
    "doc jsonb, body text, blob bytea, "
    "n1 integer, n2 integer, n3 integer, n4 integer, n5 bigint, n6 bigint, n7 smallint, "
    "n8 smallint, n9 integer, n10 bigint, n11 integer, "
    "t1 text, t2 text, t3 text, t4 text, t5 text, t6 text, t7 varchar(40), t8 varchar(40), "
    "t9 text, t10 text, t11 text)";

void Create(const std::string& database, const std::string& table, const char* columns,
            const std::string& extra_sql) {
    Sql(database, "DROP TABLE IF EXISTS " + table + " CASCADE; CREATE TABLE " + table + " " +
                      columns + ";" + extra_sql);
}

void Settle(const std::string& database, const std::string& table) {
    Sql(database, "VACUUM ANALYZE " + table);
    Sql(database, "CHECKPOINT");
}

}  // namespace

void CreateSixColumnTable(const std::string& database, const std::string& table,
                          const std::string& extra_sql) {
    Create(database, table, kSixColumns, extra_sql);
}

void FillSixColumnTable(const std::string& database, const std::string& table, long long rows) {
    CreateSixColumnTable(database, table);
    Sql(database, "INSERT INTO " + table +
                      " SELECT g, 'name ' || g || ' ' || md5(g::text), (g * 1.37) % 1e9, "
                      "timestamptz '2020-01-01 00:00:00+00' + g * interval '1.001 second', "
                      "g % 3 = 0, CASE WHEN g % 10 = 0 THEN NULL ELSE 'note ' || "
                      "md5((g * 7)::text) END FROM generate_series(1, " +
                      std::to_string(rows) + ") g");
    Settle(database, table);
}

std::string SixColumnSource(const std::string& database, long long rows) {
    const std::string table = "six_" + std::to_string(rows);
    if (!TableExists(database, table)) FillSixColumnTable(database, table, rows);
    return table;
}

std::string SixColumnInsertStatements(const std::string& source, const std::string& destination) {
    return "SELECT format('INSERT INTO " + destination +
           " VALUES (%L, %L, %L, %L, %L, %L);', id, name, amount, at, flag, note) FROM " + source;
}

void CreateWideTable(const std::string& database, const std::string& table) {
    Create(database, table, kWideColumns, {});
}

std::string WideSource(const std::string& database, long long rows) {
    const std::string table = "wide_" + std::to_string(rows);
    if (TableExists(database, table)) return table;
    CreateWideTable(database, table);
    // A thousand different large values, each row taking one and its own small ones. The bytes
    // come from md5 so that compression gains nothing, as with real documents and images.
    Sql(database,
        "INSERT INTO " + table +
            " WITH pool AS (SELECT k, "
            "  (SELECT jsonb_object_agg('key' || j, md5(k || '-' || j)) "
            "   FROM generate_series(1, 11) j) AS doc, "
            "  (SELECT string_agg(md5(k || ':' || j), ' ') FROM generate_series(1, 31) j) AS body, "
            "  (SELECT decode(string_agg(md5(k || '/' || j), ''), 'hex') "
            "   FROM generate_series(1, 128) j) AS blob "
            "  FROM generate_series(0, 999) k) "
            "SELECT g, (g::bigint * 7919 % 100000000) / 10000.0, g / 7.0, "
            "timestamptz '2020-01-01 00:00:00+00' + g * interval '1.001 second', "
            "timestamptz '2021-06-01 12:00:00+02' + g * interval '17 seconds', "
            "pool.doc || jsonb_build_object('id', g), pool.body, pool.blob, "
            "g % 1000, g % 7, g % 100000, -g, g::bigint * 1000, g * 31, (g % 30000)::smallint, "
            "(g % 7)::smallint, g % 12, g::bigint * 3, g % 365, "
            "'code ' || (g % 1000), 'label ' || g, md5(g::text), 'city ' || (g % 500), "
            "'country ' || (g % 200), substr(md5((g * 3)::text), 1, 12), 'kind ' || (g % 9), "
            "'ref-' || g, CASE WHEN g % 10 = 0 THEN NULL ELSE 'note ' || g END, "
            "'status ' || (g % 4), 'user' || g || '@example.org' "
            "FROM generate_series(1, " +
            std::to_string(rows) + ") g JOIN pool ON pool.k = g % 1000");
    Settle(database, table);
    return table;
}

void CreateNumbersTable(const std::string& database, const std::string& table) {
    Create(database, table, "(id bigint, qty integer, note text)", {});
}

std::string NumbersAsTextSource(const std::string& database, long long rows, long long bad_every) {
    const std::string table = "numbers_" + std::to_string(rows) + "_" + std::to_string(bad_every);
    if (TableExists(database, table)) return table;
    Create(database, table, "(id bigint, qty text, note text)", {});
    const std::string qty = bad_every > 0 ? "CASE WHEN g % " + std::to_string(bad_every) +
                                                " = 0 THEN 'bad' ELSE g::text END"
                                          : std::string("g::text");
    Sql(database, "INSERT INTO " + table + " SELECT g, " + qty +
                      ", 'note ' || md5(g::text) FROM generate_series(1, " + std::to_string(rows) +
                      ") g");
    Settle(database, table);
    return table;
}

void CreateOneValueTable(const std::string& database, const std::string& table,
                         const std::string& extra_sql) {
    Create(database, table, "(id integer, body text)", extra_sql);
}

std::string OneValueSource(const std::string& database, long long bytes) {
    const std::string table = "value_" + std::to_string(bytes);
    if (TableExists(database, table)) return table;
    CreateOneValueTable(database, table);
    // md5 hex digits, 32 a piece, cut to the exact length.
    Sql(database, "INSERT INTO " + table + " SELECT 1, left(string_agg(md5(g::text), ''), " +
                      std::to_string(bytes) + ") FROM generate_series(1, " +
                      std::to_string(bytes / 32 + 1) + ") g");
    Settle(database, table);
    return table;
}

}  // namespace trp::bench
