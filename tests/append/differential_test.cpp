#include "support/differential.h"

#include <gtest/gtest.h>

#include "append/append_operation.h"
#include "append/column_types.h"
#include "append/destination_features.h"
#include "append_test_support.h"
#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

// The differential guard (support/differential.h) on one server, with the destination in
// database #1 and the source in database #2.
class DifferentialTest : public AppendTest {
protected:
    // `setup` creates the destination table "dest" (and whatever it needs) in database #1.
    // `source_rows` are VALUES lists, or a SELECT.
    void ExpectSameAsRowByRow(const std::string& source_rows, const std::string& setup,
                              const std::string& ordered_rows, bool expect_copy) {
        if (!source_encoding_.empty()) MakeDatabase(db2_, source_encoding_);
        Exec(db2_, "CREATE TABLE src " + source_columns_);
        Exec(db2_, "INSERT INTO src " +
                       (source_rows.starts_with("SELECT") ? "" : std::string("VALUES ")) +
                       source_rows);
        // COPY in its binary format (where the columns allow it) and in its text format, and the
        // pipelined INSERT statements.
        const std::vector<AppendPath> inserts = {AppendPath::Inserts};
        const std::vector<AppendPath> binary =
            expect_copy ? std::vector{AppendPath::BinaryCopy, AppendPath::TextCopy} : inserts;
        const std::vector<AppendPath> text =
            expect_copy ? std::vector{AppendPath::TextCopy} : inserts;
        test::DifferentialCase differential{Request("dest", "src"),
                                            [&] {
                                                MakeDatabase(db1_, destination_encoding_);
                                                Exec(db1_, setup);
                                            },
                                            UserProfile(db1_), ordered_rows};
        differential.read_in_parts = read_in_parts_;
        test::ExpectSameAsRowByRow(differential,
                                   {{AppendStrategy::Fast, true, binary},
                                    {AppendStrategy::Fast, false, text},
                                    {AppendStrategy::PipelinedInserts, false, inserts}});
        const DestinationFeatures features = test::FeaturesOf(UserProfile(db1_), "dest");
        EXPECT_EQ(features.copy_equivalent, expect_copy) << features.reason;
    }

    // The source table's columns; the values are given as text and converted by the server.
    std::string source_columns_ = "(a text, b text)";
    bool read_in_parts_ = false;
    // The databases' encodings (empty: the cluster's own).
    std::string source_encoding_;
    std::string destination_encoding_;

    void MakeDatabase(const std::string& name, const std::string& encoding) {
        if (encoding.empty()) {
            CreateDatabase(name);
            return;
        }
        Admin("postgres", "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        Admin("postgres", "CREATE DATABASE " + name + " ENCODING '" + encoding +
                              "' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0 OWNER porter");
    }
};

const char* kFailingRows =
    "('1', 'ok'), ('2', 'ok'), ('1', 'duplicate within the source'), ('x', 'type error'), "
    "('3', NULL), ('-4', 'check'), ('5', 'ok'), ('0', 'duplicate of an existing row'), "
    "('6', 'ok'), ('7', 'ok'), ('7', 'dup'), ('8', 'ok'), ('9', 'ok'), ('y', 'type'), ('10', 'ok')";

TEST_F(DifferentialTest, FailingRows) {
    ExpectSameAsRowByRow(kFailingRows,
                         "CREATE TABLE dest (id int PRIMARY KEY CHECK (id >= 0), b text NOT NULL);"
                         "INSERT INTO dest VALUES (0, 'existing')",
                         // Physical order: the rows went in in the source's order.
                         "SELECT id::text, b FROM dest ORDER BY ctid", true);
}

TEST_F(DifferentialTest, RowLevelTriggerSeesEarlierRows) {
    ExpectSameAsRowByRow(
        kFailingRows,
        "CREATE TABLE dest (id int PRIMARY KEY, b text);"
        "CREATE TABLE seen_log (n bigint);"
        "CREATE FUNCTION count_rows() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "NEW.b := NEW.b || ' after ' || (SELECT count(*) FROM dest); RETURN NEW; END $$;"
        "CREATE FUNCTION log_rows() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "INSERT INTO seen_log SELECT count(*) FROM dest; RETURN NULL; END $$;"
        "CREATE TRIGGER before_row BEFORE INSERT ON dest FOR EACH ROW EXECUTE FUNCTION "
        "count_rows();"
        "CREATE TRIGGER after_row AFTER INSERT ON dest FOR EACH ROW EXECUTE FUNCTION log_rows()",
        "SELECT id::text, b, (SELECT string_agg(n::text, ',' ORDER BY n) FROM seen_log) "
        "FROM dest ORDER BY id",
        false);
}

TEST_F(DifferentialTest, InsertRule) {
    ExpectSameAsRowByRow(kFailingRows,
                         "CREATE TABLE dest (id int, b text);"
                         "CREATE TABLE rerouted (id int PRIMARY KEY, b text);"
                         "CREATE RULE reroute AS ON INSERT TO dest DO INSTEAD "
                         "INSERT INTO rerouted VALUES (NEW.id, NEW.b)",
                         "SELECT 'dest', id::text, b FROM dest UNION ALL "
                         "SELECT 'rerouted', id::text, b FROM rerouted ORDER BY 1, 2",
                         false);
}

TEST_F(DifferentialTest, StatementLevelTrigger) {
    ExpectSameAsRowByRow(kFailingRows,
                         "CREATE TABLE dest (id int PRIMARY KEY, b text);"
                         "CREATE TABLE statements (n serial, rows_then bigint);"
                         "CREATE FUNCTION count_statement() RETURNS trigger LANGUAGE plpgsql AS "
                         "$$ BEGIN INSERT INTO statements (rows_then) SELECT count(*) FROM dest; "
                         "RETURN NULL; END $$;"
                         "CREATE TRIGGER per_statement AFTER INSERT ON dest FOR EACH STATEMENT "
                         "EXECUTE FUNCTION count_statement()",
                         "SELECT id::text, b, (SELECT string_agg(rows_then::text, ',' ORDER BY "
                         "rows_then) FROM statements) FROM dest ORDER BY id",
                         false);
}

TEST_F(DifferentialTest, IdentityGeneratedAlways) {
    ExpectSameAsRowByRow("('1', 'a'), ('2', 'b')",
                         "CREATE TABLE dest (id int GENERATED ALWAYS AS IDENTITY, b text);"
                         "INSERT INTO dest (b) VALUES ('existing')",
                         "SELECT id::text, b FROM dest ORDER BY id", false);
}

TEST_F(DifferentialTest, PartitionedTable) {
    ExpectSameAsRowByRow(kFailingRows,
                         "CREATE TABLE dest (id int, b text NOT NULL) PARTITION BY RANGE (id);"
                         "CREATE TABLE dest_low PARTITION OF dest FOR VALUES FROM (0) TO (5);"
                         "CREATE TABLE dest_high PARTITION OF dest FOR VALUES FROM (5) TO (9);"
                         "CREATE UNIQUE INDEX ON dest_low (id)",
                         "SELECT tableoid::regclass::text, id::text, b FROM dest ORDER BY 2, 3",
                         true);
}

TEST_F(DifferentialTest, SelfReferencingForeignKey) {
    ExpectSameAsRowByRow("('1', NULL), ('3', '2'), ('2', '1'), ('4', '3')",
                         "CREATE TABLE dest (id int PRIMARY KEY, parent int REFERENCES dest)",
                         "SELECT id::text, parent::text FROM dest ORDER BY id", false);
}

TEST_F(DifferentialTest, DeferredUniqueConstraintFailsAtCommit) {
    ExpectSameAsRowByRow(kFailingRows,
                         "CREATE TABLE dest (id int UNIQUE DEFERRABLE INITIALLY DEFERRED, b text)",
                         "SELECT id::text, b FROM dest ORDER BY id, b", true);
}

TEST_F(DifferentialTest, CheckThatLooksAtTheTable) {
    ExpectSameAsRowByRow(kFailingRows,
                         "CREATE TABLE dest (id int, b text);"
                         "CREATE FUNCTION room_left() RETURNS boolean LANGUAGE sql VOLATILE AS "
                         "'SELECT count(*) < 4 FROM dest';"
                         "CREATE DOMAIN roomy_text AS text CHECK (room_left());"
                         "ALTER TABLE dest ALTER COLUMN b TYPE roomy_text",
                         "SELECT id::text, b FROM dest ORDER BY ctid", false);
}

TEST_F(DifferentialTest, RowsOfManyTypesRefusedAndTakenAlikeInBinary) {
    // Source and destination share their column types, so COPY's binary format carries the rows;
    // a refused row's report still quotes its values in their text forms.
    const std::string columns =
        "(id int, n numeric(12,3), f float8, t text, ts timestamptz, b bytea, u uuid, j jsonb, "
        "d date, iv interval, bo bool, ip inet, c char(3), m money, r real)";
    source_columns_ = columns;
    ExpectSameAsRowByRow(
        "(1, 1.5, 0.1, 'O''Brien', '2001-02-03 04:05:06.789+02', '\\x00ff', "
        " 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '{\"k\": [1, 2]}', '4713-01-01 BC', "
        " '-1 year 2 mons -3 days 04:05:06.789', true, '10.0.0.1/8', 'ab', 12.34, 1e-45), "
        "(2, -0.001, -1, 'refused by the check', now(), NULL, NULL, NULL, 'infinity', NULL, "
        " false, '::1', NULL, -0.01, 'NaN'), "
        "(1, 2, 2, 'a duplicate id', NULL, NULL, NULL, 'null', NULL, '1 day', NULL, NULL, "
        " 'xyz', NULL, NULL), "
        "(3, NULL, 'Infinity', E'tab\\there', '-infinity', '', NULL, '[]', '2000-02-29', "
        " '-00:00:01', NULL, NULL, 'x', 0, '-Infinity'), "
        "(4, 99999999.999, 1.7976931348623157e308, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
        " NULL, NULL, NULL, NULL, NULL)",
        "CREATE TABLE dest " + columns +
            "; ALTER TABLE dest ADD PRIMARY KEY (id), ADD CHECK (f > 0)",
        "SET TimeZone = 'UTC'; SET extra_float_digits = 3; "
        "SELECT dest::text FROM dest ORDER BY ctid",
        true);
}

// Binary rows the destination refuses are sent alone as the source's own text, so a refused row
// takes no other row with it and its report is the text path's, word for word.
TEST_F(DifferentialTest, CharactersALatin1DestinationCannotHoldRefuseOnlyTheirRows) {
    destination_encoding_ = "LATIN1";
    source_columns_ = "(id int, v text)";
    ExpectSameAsRowByRow(
        "SELECT g, CASE WHEN g IN (2, 38) THEN 'costs 5 €' ELSE 'row ' || g END "
        "FROM generate_series(1, 60) g",
        "CREATE TABLE dest (id int, v text)", "SELECT id::text, v FROM dest ORDER BY ctid", true);
}

TEST_F(DifferentialTest, CirclesWithANegativeRadiusAreRefusedInTheTextPathsWords) {
    // The server stores such circles (circle(point, radius) does not check), but reads them
    // neither as text nor in binary.
    source_columns_ = "(id int, c circle)";
    ExpectSameAsRowByRow(
        "SELECT g, circle(point(g, 1), CASE WHEN g % 7 = 3 THEN -1 ELSE g END) "
        "FROM generate_series(1, 30) g",
        "CREATE TABLE dest (id int, c circle)", "SELECT id::text, c::text FROM dest ORDER BY ctid",
        true);
}

TEST_F(DifferentialTest, NamesLongerThanANameCanHoldAfterConversionAreCutAsTheTextPathCutsThem) {
    // 40 LATIN1 letters are 80 bytes in UTF-8: a name takes 63 of them read as text, while its
    // binary form is refused as too long.
    source_encoding_ = "LATIN1";
    source_columns_ = "(id int, n name)";
    ExpectSameAsRowByRow(
        "SELECT g, CASE WHEN g % 5 = 0 THEN repeat(chr(233), 40) ELSE 'short ' || g END "
        "FROM generate_series(1, 20) g",
        "CREATE TABLE dest (id int, n name)", "SELECT id::text, n::text FROM dest ORDER BY ctid",
        true);
}

// A stretch of refused rows amid accepted ones, and refused rows one after the other: the rows
// after a refused one go one by one while refusals come close together, then in pieces again.
TEST_F(DifferentialTest, RefusedRowsOneAfterTheOtherAmidAcceptedOnes) {
    source_columns_ = "(id int, v text)";
    ExpectSameAsRowByRow(
        "SELECT g, CASE WHEN g BETWEEN 40 AND 75 OR g % 29 = 0 OR g IN (120, 121) THEN 'x' "
        "ELSE g::text END FROM generate_series(1, 300) g",
        "CREATE TABLE dest (id int UNIQUE DEFERRABLE INITIALLY DEFERRED, v int)",
        "SELECT id::text, v::text FROM dest ORDER BY ctid", true);
}

// Refused rows one after the other for each way a row can break the table's rules (a key, a
// null, a check, a foreign key), then a stretch of values the column's type cannot read: the
// first are refused in the words of each row's own INSERT statement, whichever way the rows
// went; the last need those statements' very texts, and the rows after them go as statements.
TEST_F(DifferentialTest, IntegrityRefusalsOneAfterTheOtherThenValuesTheTypeCannotRead) {
    source_columns_ = "(id text, v text, r text)";
    ExpectSameAsRowByRow(
        "SELECT CASE WHEN g BETWEEN 20 AND 50 THEN '5' WHEN g BETWEEN 200 AND 230 THEN 'x' || g "
        "ELSE g::text END, CASE WHEN g BETWEEN 60 AND 90 THEN NULL WHEN g BETWEEN 100 AND 130 "
        "THEN '-1' ELSE g::text END, CASE WHEN g BETWEEN 140 AND 170 THEN '999' ELSE '1' END "
        "FROM generate_series(1, 260) g",
        "CREATE TABLE ref (id int PRIMARY KEY); INSERT INTO ref VALUES (1); "
        "CREATE TABLE dest (id int PRIMARY KEY, v int NOT NULL CHECK (v >= 0), "
        "r int REFERENCES ref)",
        "SELECT id::text, v::text, r::text FROM dest ORDER BY ctid", true);
}

// Without a unique key the batches go through several writers at once: each refused row keeps
// its source number and its words whichever batch commits first. The source's pages are mostly
// empty, so that its 33 blocks are read in parts by as many sessions as writers, each reading
// ahead of its turn.
TEST_F(DifferentialTest, RefusedRowsOfBatchesThatSeveralWritersSendAtOnce) {
    source_columns_ = "(id text, v text, r text) WITH (fillfactor = 10)";
    read_in_parts_ = true;
    ExpectSameAsRowByRow(
        "SELECT CASE WHEN g % 97 = 0 THEN 'x' || g ELSE g::text END, CASE WHEN g BETWEEN 60 AND "
        "90 THEN NULL WHEN g % 31 = 0 THEN '-1' ELSE g::text END, CASE WHEN g BETWEEN 140 AND 170 "
        "OR g % 53 = 0 THEN '999' ELSE '1' END FROM generate_series(1, 600) g",
        "CREATE TABLE ref (id int PRIMARY KEY); INSERT INTO ref VALUES (1); "
        "CREATE TABLE dest (id int, v int NOT NULL CHECK (v >= 0), r int REFERENCES ref)",
        "SELECT id::text, v::text, r::text FROM dest ORDER BY ctid", true);
}

// Both tables have the same column names in another order: each value goes into the column of
// its name, on every path. By position, text would go into the wrong column without a word.
TEST_F(DifferentialTest, TheSameNamesInAnotherOrderAreMatchedByName) {
    Exec(db2_, "CREATE TABLE src (a text, b text, n int)");
    Exec(db2_, "INSERT INTO src VALUES ('a1', 'b1', 1), ('a2', 'b2', 2), ('a3', NULL, 3)");
    const test::Rows expected = Query(db2_, "SELECT a, b, n::text FROM src ORDER BY n");
    const std::pair<AppendStrategy, bool> paths[] = {{AppendStrategy::Fast, true},
                                                     {AppendStrategy::Fast, false},
                                                     {AppendStrategy::PipelinedInserts, false},
                                                     {AppendStrategy::RowByRow, false}};
    for (const auto& [strategy, binary] : paths) {
        for (const char* within : {"two databases", "one database"}) {
            const bool same = std::string(within) == "one database";
            const std::string& into = same ? db2_ : db1_;
            Exec(into, "DROP TABLE IF EXISTS dest; CREATE TABLE dest (b text, n int, a text)");
            AppendOptions options;
            options.strategy = strategy;
            options.binary = binary;
            RecordingHost host;
            AppendRequest request = Request("dest", "src");
            if (same) request.profile1 = request.profile2;
            RunAppend(request, host, options);
            EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."}) << within;
            EXPECT_EQ(Query(into, "SELECT a, b, n::text FROM dest ORDER BY n"), expected)
                << within << ", strategy " << static_cast<int>(strategy) << ", binary " << binary;
        }
    }
    // Other names, or the same names differing in case: by position, as ever.
    Exec(db1_, "DROP TABLE dest; CREATE TABLE dest (\"B\" text, a text, n int)");
    RecordingHost host;
    RunAppend(Request("dest", "src"), host);
    EXPECT_EQ(Scalar(db1_, "SELECT string_agg(\"B\", ',' ORDER BY n) FROM dest"), "a1,a2,a3");
}

TEST_F(DifferentialTest, BinaryOnlyForTheSameBuiltInScalarTypesWithTheSameModifiers) {
    const auto types = [&](const std::string& database, const std::string& columns) {
        Exec(database, "DROP TABLE IF EXISTS shape; CREATE TABLE shape " + columns);
        Connection connection;
        connection.Open(BuildConnectionString(UserProfile(database)));
        const PgResultPtr result(
            PQexec(connection.Handle(), ColumnTypesQuery(connection, "\"shape\"").c_str()));
        return ReadColumnTypes(result.get());
    };
    Exec(db1_, "CREATE TYPE mood AS ENUM ('sad'); CREATE DOMAIN positive AS int CHECK (VALUE > 0)");
    Exec(db2_, "CREATE TYPE mood AS ENUM ('sad'); CREATE DOMAIN positive AS int CHECK (VALUE > 0)");
    const std::string scalars = "(a int, b numeric(10,2), c varchar(5), d timestamptz(3), e text)";
    EXPECT_TRUE(BinaryCompatible(types(db1_, scalars), types(db2_, scalars)));
    EXPECT_FALSE(BinaryCompatible(types(db1_, scalars),
                                  types(db2_,
                                        "(a int, b numeric, c varchar(5), d timestamptz(3), "
                                        "e text)")));
    EXPECT_FALSE(BinaryCompatible(types(db1_, "(a int)"), types(db2_, "(a bigint)")));
    EXPECT_FALSE(BinaryCompatible(types(db1_, "(a int)"), types(db2_, "(a int, b int)")));
    for (const char* other :
         {"(a int[])", "(a mood)", "(a positive)", "(a regclass)", "(a int4range)", "(a aclitem)"})
        EXPECT_FALSE(BinaryCompatible(types(db1_, other), types(db2_, other))) << other;
}

TEST_F(DifferentialTest, GeneratedColumnAndRowSecurityAreDetected) {
    Exec(db1_, "CREATE TABLE gen (a int, b int GENERATED ALWAYS AS (a * 2) STORED)");
    Exec(db1_, "CREATE TABLE secured (a int); ALTER TABLE secured ENABLE ROW LEVEL SECURITY");
    Exec(db1_, "CREATE TABLE plain (a int, b text)");
    EXPECT_FALSE(test::FeaturesOf(UserProfile(db1_), "gen").copy_equivalent);
    EXPECT_FALSE(test::FeaturesOf(UserProfile(db1_), "secured").copy_equivalent);
    EXPECT_TRUE(test::FeaturesOf(UserProfile(db1_), "plain").copy_equivalent);
}

}  // namespace
}  // namespace trp
