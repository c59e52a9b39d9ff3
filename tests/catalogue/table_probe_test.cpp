#include "catalogue/table_probe.h"

#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/connection_string.h"
#include "support/pg_fixture.h"

namespace trp {
namespace {

using test::PgTest;

class TableProbeTest : public PgTest {
protected:
    void SetUp() override { CreateDatabase("probe"); }
    bool Probe(const std::string& table, const std::string& schema = "public") {
        return CheckTablePermission(UserProfile("probe"), TableName{schema, table});
    }
    // The name as an identifier, quoted as a connection to the database quotes it.
    std::string Quoted(const std::string& name) {
        Connection connection;
        connection.Open(BuildConnectionString(UserProfile("probe")));
        return connection.QuoteIdentifier(name);
    }
    bool TableExists(const std::string& name) {
        return Scalar("probe", "SELECT count(*) FROM pg_tables WHERE tablename = " +
                                   QuoteLiteral(name)) == "1";
    }
};

TEST_F(TableProbeTest, AnswersWhetherTheLoginCanReadExactlyThatTable) {
    Exec("probe", "CREATE TABLE people (id int); CREATE TABLE \"Orders\" (id int)");
    // Created by the superuser: the test login has no privilege on it.
    Admin("probe", "CREATE TABLE secret (id int)");

    EXPECT_TRUE(Probe("people"));
    EXPECT_TRUE(Probe("Orders"));
    EXPECT_FALSE(Probe("secret"));
    // The name is a quoted identifier: letter case must match.
    EXPECT_FALSE(Probe("People"));
    EXPECT_FALSE(Probe("orders"));
    EXPECT_FALSE(Probe("missing"));
    EXPECT_FALSE(Probe(""));

    Profile wrong = UserProfile("probe");
    wrong.password = "wrong";
    const TableName people{"public", "people"};
    EXPECT_FALSE(CheckTablePermission(wrong, people));
    EXPECT_FALSE(CheckPostgreSQLTablePermission2(wrong, people));
    EXPECT_TRUE(CheckPostgreSQLTablePermission(UserProfile("probe"), people));
}

TEST_F(TableProbeTest, ATableIsReachedInItsOwnSchemaWhateverTheSearchPath) {
    Exec("probe",
         "CREATE SCHEMA sales; CREATE TABLE sales.orders (id int); "
         "CREATE TABLE public.\"sales.orders\" (id int)");
    // Neither schema nor name is taken apart: "sales.orders" of public is a name of its own.
    EXPECT_TRUE(Probe("orders", "sales"));
    EXPECT_TRUE(Probe("sales.orders"));
    EXPECT_FALSE(Probe("orders"));
    // A schema the login may not use: its tables cannot be read.
    Admin("probe",
          "CREATE SCHEMA closed; CREATE TABLE closed.inside (id int); "
          "GRANT SELECT ON closed.inside TO porter");
    EXPECT_FALSE(Probe("inside", "closed"));
}

TEST_F(TableProbeTest, UnusualNamesAreProbedAsNamesAndInjectNothing) {
    const std::vector<std::string> names = {
        "a\"b",           "it's",        "semi;colon", "with blanks",
        " leading blank", "Größe_été",   "UPPER",      "x\"; DROP TABLE y; --",
        "\"\"",           "x' OR '1'='1"};
    Exec("probe", "CREATE TABLE y (id int)");
    for (const auto& name : names) {
        // Absent first: false, and the statement around the name does not run anything else.
        EXPECT_FALSE(Probe(name)) << name;
        Exec("probe", "CREATE TABLE " + Quoted(name) + " (id int)");
        EXPECT_TRUE(Probe(name)) << name;
    }
    EXPECT_TRUE(TableExists("y"));
    EXPECT_EQ(Scalar("probe", "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"),
              std::to_string(names.size() + 1));
}

TEST_F(TableProbeTest, ATableWithRowsIsProbedWithoutReceivingAny) {
    Exec("probe",
         "CREATE TABLE big AS SELECT g AS id, md5(g::text) AS txt FROM generate_series(1, 100000) "
         "g");
    EXPECT_TRUE(Probe("big"));

    // The probe's statement brings back the table's shape and no row.
    Connection connection;
    connection.SetCursorLocation(CursorLocation::Client);
    connection.Open(BuildConnectionString(UserProfile("probe")));
    RecordSet shape = connection.Execute(ZeroRowSelect(connection, TableName{"public", "big"}));
    EXPECT_EQ(shape.RecordCount(), 0);
    EXPECT_EQ(shape.FieldCount(), 2);
    EXPECT_EQ(ZeroRowSelect(connection, TableName{"Q 1", "a\"b"}),
              "SELECT * FROM \"Q 1\".\"a\"\"b\" LIMIT 0");
}

}  // namespace
}  // namespace trp
