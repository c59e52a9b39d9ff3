#include <gtest/gtest.h>

#include "append/append_operation.h"
#include "append_test_support.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

// Settings under which the rows are written in the setup and compared afterwards.
const char* kNeutral =
    "SET DateStyle = 'ISO, MDY'; SET IntervalStyle = 'postgres'; SET TimeZone = 'UTC'; "
    "SET extra_float_digits = 3; SET bytea_output = 'hex'; SET standard_conforming_strings = on; "
    "SET array_nulls = on; SET xmloption = content; SET lc_monetary = 'C'; ";

const char* kColumns =
    "(si smallint, i integer, bi bigint, num numeric, r real, d double precision, bo boolean, "
    "t text, vc varchar(40), ch char(5), by bytea, dt date, tm time, ttz timetz, ts timestamp, "
    "tstz timestamptz, iv interval, u uuid, j json, jb jsonb, ip inet, cd cidr, mac macaddr, "
    "ia integer[], ta text[], i2 integer[], e mood, dm small_positive, x xml, m money)";

const char* kScalarColumns =
    "si, i, bi, num, r, d, bo, t, vc, ch, by, dt, tm, ttz, ts, tstz, iv, u, j, jb, ip, cd, mac, "
    "x, m";

const char* kRows =
    "(-32768, -2147483648, -9223372036854775808, "
    " 1234567890123456789012345678901234567890.123456789, '-0', '-0', true, "
    " E'O''Brien \\\\ \"quoted\" \\t tab \\n newline \\r return 😀 ÄÖü 日本', "
    " E'it''s a \\\\ |mysepz123| \\t', 'ab''\\', '\\x00ff8000'::bytea, '4713-01-01 BC', "
    " '23:59:59.999999', '12:34:56.123456+05:30', '2000-02-29 01:02:03.000001', "
    " '1999-12-31 23:59:59.999999+14', '-1 year 2 mons -3 days 04:05:06.789', "
    " 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '{\"a\": [1, 2.50, \"x\"],  \"a\": 2}', "
    " '{\"k\": [null, 1.0e3, \"\\\\u00e9\"]}', '192.168.0.1/24', '10.0.0.0/8', "
    " '08:00:2b:01:02:03', '{1,NULL,3}', '{\"a\\\"b\",\"c,d\",\"{e}\",NULL,\"NULL\",\"\"}', "
    " '{{1,2},{3,4}}', 'sad', 5, 'a <b>fragment</b> of text', 1234567.89), "
    "(32767, 2147483647, 9223372036854775807, 'NaN', 'NaN', 'Infinity', false, '', '', '', "
    " ''::bytea, 'infinity', '00:00', '00:00:00-15:59', '-infinity', 'infinity', "
    " '-177000000 years', '00000000-0000-0000-0000-000000000000', 'null', '[]', '::1', "
    " '::/0', 'ff:ff:ff:ff:ff:ff', '{}', '{}', '{{NULL}}', 'happy', 1, '<doc a=\"1\"/>', -0.01), "
    "(0, 0, 0, '-0.000000000000000000000000000000000000001', '1e-45', "
    " '2.2250738585072014e-308', NULL, repeat('é😀', 262144), repeat('x', 40), 'x', "
    " decode(repeat('00ff', 1000), 'hex'), '2024-02-29', '24:00:00', '24:00:00+15:59', "
    " '0001-01-01 00:00:00 BC', '-infinity', '1 day -00:00:00.000001', NULL, NULL, NULL, "
    " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
    "(1, 1, 1, '0.1', '-Infinity', '0.1', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    "NULL), "
    "(2, 2, 2, '1e-40', '3.4028235e+38', '1.7976931348623157e308', NULL, NULL, NULL, NULL, "
    " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    " NULL, NULL, NULL, NULL, NULL, NULL), "
    "(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    "NULL)";

class RoundTripTest : public AppendTest {
protected:
    void SetUp() override {
        AppendTest::SetUp();
        // Two databases whose own settings write and read values as differently as possible.
        // Settings that change how values are read: NULL elements of arrays, XML fragments,
        // the money format.
        Admin("postgres", "ALTER DATABASE " + db1_ + " SET array_nulls = off; ALTER DATABASE " +
                              db1_ + " SET xmloption = document; ALTER DATABASE " + db1_ +
                              " SET lc_monetary = 'de_DE.UTF-8'");
        Admin("postgres", "ALTER DATABASE " + db2_ + " SET lc_monetary = 'en_IN.UTF-8'");
        Admin("postgres", "ALTER DATABASE " + db1_ +
                              " SET DateStyle = 'SQL, DMY'; ALTER DATABASE " + db1_ +
                              " SET IntervalStyle = 'sql_standard'; ALTER DATABASE " + db1_ +
                              " SET TimeZone = 'Pacific/Chatham'; ALTER DATABASE " + db1_ +
                              " SET extra_float_digits = -15; ALTER DATABASE " + db1_ +
                              " SET bytea_output = 'escape'; ALTER DATABASE " + db1_ +
                              " SET standard_conforming_strings = off");
        Admin("postgres", "ALTER DATABASE " + db2_ +
                              " SET DateStyle = 'German, MDY'; ALTER DATABASE " + db2_ +
                              " SET IntervalStyle = 'iso_8601'; ALTER DATABASE " + db2_ +
                              " SET TimeZone = 'America/St_Johns'; ALTER DATABASE " + db2_ +
                              " SET extra_float_digits = 0");
        for (const auto& db : {db1_, db2_}) {
            Exec(db,
                 "CREATE TYPE mood AS ENUM ('sad', 'happy'); "
                 "CREATE DOMAIN small_positive AS smallint CHECK (VALUE > 0)");
            Exec(db, std::string("CREATE TABLE dest ") + kColumns);
            Exec(db, std::string("CREATE TABLE rows ") + kColumns);
            // The literals are read as the neutral settings read them: set before the statement
            // that holds them is parsed.
            Connection session;
            session.SetCommandTimeout(0);
            session.Open(BuildConnectionString(UserProfile(db)));
            session.Execute(kNeutral);
            session.Execute(std::string("INSERT INTO rows VALUES ") + kRows);
            // The built-in scalar columns alone, which COPY's binary format carries.
            Exec(db, std::string("CREATE TABLE scalar_dest AS SELECT ") + kScalarColumns +
                         " FROM rows WITH NO DATA; CREATE TABLE scalar_rows AS SELECT " +
                         kScalarColumns + " FROM rows");
        }
    }

    // Rows in one table and not in the other, either way, by their exact text forms.
    std::string Differences(const std::string& db, const std::string& dest = "dest",
                            const std::string& rows = "rows") const {
        return Scalar(db, std::string(kNeutral) + "SELECT count(*) FROM ((SELECT x::text FROM " +
                              dest + " x EXCEPT ALL SELECT x::text FROM " + rows +
                              " x) UNION ALL (SELECT x::text FROM " + rows +
                              " x EXCEPT ALL SELECT x::text FROM " + dest + " x)) d");
    }
};

TEST_F(RoundTripTest, EveryValueArrivesExactlyWhateverEitherSidesSettings) {
    for (const auto strategy :
         {AppendStrategy::Fast, AppendStrategy::PipelinedInserts, AppendStrategy::RowByRow}) {
        AppendOptions options;
        options.strategy = strategy;
        for (const bool option1 : {true, false}) {
            const std::string& into = option1 ? db1_ : db2_;
            Exec(into, "TRUNCATE dest");
            RecordingHost host;
            RunAppend(Request(option1 ? "dest" : "rows", option1 ? "rows" : "dest", option1), host,
                      options);
            ASSERT_TRUE(host.ErrorReports().empty()) << host.ErrorReports().front();
            EXPECT_EQ(Scalar(into, "SELECT count(*) FROM dest"), "6");
            EXPECT_EQ(Scalar(into, std::string(kNeutral) +
                                       "SELECT count(*) FROM dest WHERE ia[2] IS NULL "
                                       "AND ta[4] IS NULL AND ta[5] = 'NULL'"),
                      "1");
            EXPECT_EQ(Differences(into), "0") << "into database " << (option1 ? 1 : 2);
        }
    }
}

TEST_F(RoundTripTest, ScalarValuesArriveExactlyInEitherFormatOfCopy) {
    for (const bool binary : {true, false}) {
        AppendOptions options;
        options.binary = binary;
        for (const bool option1 : {true, false}) {
            const std::string& into = option1 ? db1_ : db2_;
            Exec(into, "TRUNCATE scalar_dest");
            RecordingHost host;
            RunAppend(Request(option1 ? "scalar_dest" : "scalar_rows",
                              option1 ? "scalar_rows" : "scalar_dest", option1),
                      host, options);
            ASSERT_TRUE(host.ErrorReports().empty()) << host.ErrorReports().front();
            EXPECT_EQ(Scalar(into, "SELECT count(*) FROM scalar_dest"), "6");
            EXPECT_EQ(Differences(into, "scalar_dest", "scalar_rows"), "0")
                << "into database " << (option1 ? 1 : 2) << (binary ? ", binary" : ", text");
        }
    }
}

}  // namespace
}  // namespace trp
