#include "append/skipped_copy_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/pg_handles.h"
#include "support/pg_fixture.h"

namespace trp {
namespace {

// A COPY that skips rows whose values its columns' types cannot read, on the servers that have
// one: the lines its notices name, whatever the table, its columns and the values are called.
class SkippedCopyRowsTest : public test::PgTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        if (const std::string missing = test::MissingServer(GetParam()); !missing.empty()) {
            if (test::EveryVersionExpected()) FAIL() << missing;
            GTEST_SKIP() << missing;
        }
        db_ = CreateDatabase("skipping");
    }
    TemporaryCluster& Server() const override { return test::ClusterOf(GetParam()); }

    std::string db_;
};

TEST_P(SkippedCopyRowsTest, TheLinesOfTheRowsItSkipped) {
    Exec(db_, "CREATE TABLE \"line 2\" (c1 int, \"at line 3 for column \" numeric(4,1))");
    Connection connection;
    connection.Open(BuildConnectionString(UserProfile(db_)));
    connection.Execute("SET client_min_messages = notice");
    PGconn* conn = connection.Handle();
    SkippedCopyRows skipped(conn);
    const PgResultPtr copy(PQexec(
        conn,
        ("COPY \"line 2\" FROM STDIN" + SkippingUnreadableRows(" (ENCODING 'UTF8')")).c_str()));
    ASSERT_EQ(PQresultStatus(copy.get()), PGRES_COPY_IN) << PQerrorMessage(conn);
    std::string data;
    for (int line = 1; line <= 14; ++line) {
        const std::string first = line == 2 ? "x" : line == 13 ? "at line 4" : "7";
        const std::string second = line == 11 ? "123456" : line == 14 ? "1 for column 2" : "1";
        data += first + "\t" + second + "\n";
    }
    ASSERT_EQ(PQputCopyData(conn, data.data(), static_cast<int>(data.size())), 1);
    ASSERT_EQ(PQputCopyEnd(conn, nullptr), 1);
    const PgResultPtr copied(PQgetResult(conn));
    ASSERT_EQ(PQresultStatus(copied.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn);
    EXPECT_STREQ(PQcmdTuples(copied.get()), "10");
    while (PgResultPtr(PQgetResult(conn))) {
    }
    EXPECT_EQ(skipped.Lines(), (std::vector<std::size_t>{2, 11, 13, 14}));
}

INSTANTIATE_TEST_SUITE_P(Servers, SkippedCopyRowsTest, ::testing::Values(17, 18),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "PostgreSQL" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace trp
