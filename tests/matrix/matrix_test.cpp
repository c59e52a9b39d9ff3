// The engine against every major version of PostgreSQL it supports, 10 to 18: the differential
// guard (support/differential.h), with refused rows, on each path the rows may take (binary COPY,
// text COPY, INSERT statements, inside the server), each run's path checked. Each version is the
// destination with the source on 15 and the source with the destination on 15, versions far apart
// meet in both directions, and each version has a run within one database. Debian has only 15;
// scripts/test.sh downloads the others' server programs once. One server per version serves all
// of this program's tests.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/differential.h"
#include "support/pg_fixture.h"

namespace trp {
namespace {

using test::ClusterOf;

struct Cell {
    int source;
    int destination;
    bool one_database = false;
};

std::string CellText(const Cell& cell) {
    if (cell.one_database) return "Within" + std::to_string(cell.source);
    return "From" + std::to_string(cell.source) + "To" + std::to_string(cell.destination);
}

void PrintTo(const Cell& cell, std::ostream* out) {
    *out << CellText(cell);
}

std::vector<Cell> Cells() {
    std::vector<Cell> cells;
    for (const int version : {10, 11, 12, 13, 14, 16, 17, 18}) {
        cells.push_back({15, version});
        cells.push_back({version, 15});
    }
    for (const Cell cell : {Cell{18, 10}, Cell{10, 18}, Cell{12, 13}}) cells.push_back(cell);
    for (const int version : {10, 11, 12, 13, 14, 15, 16, 17, 18})
        cells.push_back({version, version, true});
    return cells;
}

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
    return CellText(info.param);
}

// Every column has the same built-in scalar type on both sides, so COPY's binary format may
// carry them. The destination refuses rows by its primary key (within the source, and of the row
// it holds), a check and a NOT NULL.
constexpr const char* kScalarColumns =
    "(id int, n numeric(12,3), t text, ts timestamptz, b bytea, ok boolean, j jsonb, f float8, "
    "d date, u uuid, v varchar(8))";
constexpr const char* kScalarRows =
    "(1, 1.5, 'O''Brien', '2001-02-03 04:05:06.789+02', '\\x00ff', true, "
    " '{\"k\": [1, 2.5e10, null], \"é\": \"✓\"}', 1.7976931348623157e308, '4713-01-01 BC', "
    " 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', 'abc'), "
    "(2, -0.001, 'refused by the check', now(), NULL, false, 'null', -1, 'infinity', NULL, ''), "
    "(1, 2, 'a duplicate id', NULL, NULL, NULL, '[]', 2, NULL, NULL, NULL), "
    "(3, 0, E'tab\\there\\nand a line', '-infinity', '', NULL, '\"\"', '-0', '2000-02-29', NULL, "
    " 'x'), "
    "(4, 99999999.999, NULL, 'infinity', '\\x', true, '{}', 'Infinity', NULL, NULL, NULL), "
    "(5, 7, 'ok', '1999-12-31 23:59:59.999999-12', '\\xdeadbeef', false, '[1, \"a\"]', "
    " '-Infinity', '1970-01-01', '00000000-0000-0000-0000-000000000000', 'ok'), "
    "(0, 1, 'a duplicate of the row the destination holds', NULL, NULL, NULL, NULL, 0, NULL, "
    " NULL, NULL), "
    "(6, 0.001, 'ok', NULL, NULL, NULL, NULL, 'NaN', NULL, NULL, NULL), "
    "(7, 12.5, 'ok', NULL, NULL, NULL, NULL, 2.2250738585072014e-308, NULL, NULL, NULL), "
    "(8, 3, 'ok', NULL, NULL, NULL, NULL, 0.1, NULL, NULL, NULL), "
    "(8, 3, 'dup', NULL, NULL, NULL, NULL, 0.1, NULL, NULL, NULL), "
    "(9, 3, 'ok', NULL, NULL, NULL, NULL, -1.2345678901234567e-300, NULL, NULL, NULL), "
    "(10, 3, 'ok', NULL, NULL, NULL, NULL, 4.9e-324, NULL, NULL, 'last')";

// Arrays are no scalars: COPY's text format carries them, also within one database (the
// engine moves only scalar types inside the server).
constexpr const char* kArrayColumns = "(id int, ia int[], ta text[], fa float8[], na numeric[])";
constexpr const char* kArrayRows =
    "(1, '{1,2,NULL}', '{\"a,b\",\"c\\\"d\",NULL,\"\",\"NULL\"}', '{1e308,-0,NaN,Infinity}', "
    " '{1.50,-2}'), "
    "(2, '{{1,2},{3,4}}', '{}', '{}', NULL), "
    "(1, '{5}', '{dup}', NULL, NULL), "
    "(3, '{1,2,3,4,5}', '{refused}', NULL, NULL), "
    "(4, '[0:1]={7,8}', '{\"ü\",\" \"}', '{-1.5e-300}', '{NaN}'), "
    "(5, NULL, NULL, NULL, '{}')";

// Text into typed columns: values the types cannot read (from 17 on, COPY skips their rows and
// they go alone for their reports), some one after the other and some in batches with rows the
// table's rules refuse, which fail the COPY as a whole.
constexpr const char* kTextColumns = "(id text, n text, v text)";
constexpr const char* kTypedColumns =
    "ALTER COLUMN id TYPE int USING id::int, ALTER COLUMN n TYPE numeric(5,2) USING n::numeric, "
    "ALTER COLUMN v TYPE varchar(4), ADD PRIMARY KEY (id), ADD CHECK (n >= 0)";
constexpr const char* kTextRows =
    "('1', '1.5', 'ok'), ('x', '1', 'id'), ('2', '1e10', 'big'), ('3', '2', 'too long'), "
    "('4', 'y', 'n'), ('5', 'z', 'n'), ('6', '1', 'ok'), ('7', 'w', 'n'), "
    "('1', '3', 'dup'), ('8', '-1', 'chk'), ('9', '1', 'ok'), ('10', 'v', 'n'), "
    "('11', '2', 'ok'), ('12', '2', 'ok'), ('13', '', 'n'), ('14', '2', 'last')";

class MatrixTest : public ::testing::TestWithParam<Cell> {
protected:
    void SetUp() override {
        const Cell& cell = GetParam();
        for (const int version : {cell.source, cell.destination}) {
            if (const std::string missing = test::MissingServer(version); !missing.empty()) {
                if (test::EveryVersionExpected()) FAIL() << missing;
                GTEST_SKIP() << missing;
            }
        }
        TemporaryCluster& source = ClusterOf(cell.source);
        TemporaryCluster& destination = ClusterOf(cell.destination);
        ASSERT_EQ(source.Version(), cell.source);
        ASSERT_EQ(destination.Version(), cell.destination);
        const std::string source_database = cell.one_database ? "matrix_one" : "matrix_source";
        const std::string destination_database =
            cell.one_database ? "matrix_one" : "matrix_destination";
        source.CreateDatabase(source_database, test::kTestUser);
        if (!cell.one_database) destination.CreateDatabase(destination_database, test::kTestUser);
        source_ = test::UserProfileOn(source, source_database);
        destination_ = test::UserProfileOn(destination, destination_database);
    }

    // The path a COPY run's rows take: inside the server within one database from 14 on, which
    // reads a table chunk by chunk (a range of blocks); before, COPY.
    std::vector<AppendPath> Copy(AppendPath copy) const {
        const Cell& cell = GetParam();
        return {cell.one_database && cell.source >= 14 ? AppendPath::InsideServer : copy};
    }

    // `rows` go from a table of `columns` into one of the same columns plus `constraints`,
    // which holds the row `held` (id 0) and has `trigger`'s BEFORE INSERT trigger.
    void Guard(const std::string& table, const std::string& columns, const std::string& rows,
               const std::string& constraints, const std::string& held, const std::string& trigger,
               const std::vector<test::EngineRun>& runs,
               const std::vector<std::size_t>& batches = {4}) {
        const std::string into = table + "_into";
        test::ExecuteWith(source_, "CREATE TABLE " + table + " " + columns + "; INSERT INTO " +
                                       table + " VALUES " + rows);
        std::string make = "DROP TABLE IF EXISTS " + into + "; CREATE TABLE " + into + " " +
                           columns + "; ALTER TABLE " + into + " " + constraints +
                           "; INSERT INTO " + into + " " + held + ";";
        if (!trigger.empty()) {
            // EXECUTE PROCEDURE: EXECUTE FUNCTION is new in 11.
            make +=
                "CREATE OR REPLACE FUNCTION mark() RETURNS trigger LANGUAGE plpgsql AS $$ "
                "BEGIN " +
                trigger + " RETURN NEW; END $$; CREATE TRIGGER mark BEFORE INSERT ON " + into +
                " FOR EACH ROW EXECUTE PROCEDURE mark()";
        }
        test::DifferentialCase differential{
            AppendRequest{into, table, true, destination_, source_},
            [&] { test::ExecuteWith(destination_, make); },
            destination_,
            "SET TimeZone = 'UTC'; SET extra_float_digits = 3; SELECT r::text FROM " + into +
                " r ORDER BY id",
            batches};
        test::ExpectSameAsRowByRow(differential, runs);
    }

    Profile source_;
    Profile destination_;
};

TEST_P(MatrixTest, ScalarsByCopyInEitherFormat) {
    Guard("scalars", kScalarColumns, kScalarRows,
          "ADD PRIMARY KEY (id), ADD CHECK (n >= 0), ALTER COLUMN t SET NOT NULL",
          "(id, t) VALUES (0, 'held')", "",
          {{AppendStrategy::Fast, true, Copy(AppendPath::BinaryCopy)},
           {AppendStrategy::Fast, false, Copy(AppendPath::TextCopy)}});
}

TEST_P(MatrixTest, ScalarsIntoATableWithARowTriggerByInsertStatements) {
    // The trigger sees the rows stored before its own.
    Guard("scalars", kScalarColumns, kScalarRows,
          "ADD PRIMARY KEY (id), ADD CHECK (n >= 0), ALTER COLUMN t SET NOT NULL",
          "(id, t) VALUES (0, 'held')",
          "NEW.t := NEW.t || ' after ' || (SELECT count(*) FROM scalars_into);",
          {{AppendStrategy::Fast, true, {AppendPath::Inserts}}});
}

TEST_P(MatrixTest, ArraysByTextCopy) {
    Guard("arrays", kArrayColumns, kArrayRows,
          "ADD PRIMARY KEY (id), ADD CHECK (cardinality(ia) < 5)", "(id) VALUES (0)", "",
          {{AppendStrategy::Fast, true, {AppendPath::TextCopy}}});
}

TEST_P(MatrixTest, TextTheColumnsTypesCannotReadByTextCopy) {
    Guard("texts", kTextColumns, kTextRows, kTypedColumns, "(id, n, v) VALUES (0, 1, 'held')", "",
          {{AppendStrategy::Fast, true, {AppendPath::TextCopy}}}, {4, 8, 1000});
}

INSTANTIATE_TEST_SUITE_P(Versions, MatrixTest, ::testing::ValuesIn(Cells()), CellName);

}  // namespace
}  // namespace trp
