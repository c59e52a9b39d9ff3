// Tables in schemas, through the real screens: every table of the lists can be appended, and
// each item reaches its own table, however its text reads.
#include <gtest/gtest.h>

#include "screen_run.h"

namespace trp {
namespace {

class SchemasTest : public test::ScreenRunTest {
protected:
    void SetUp() override {
        ScreenRunTest::SetUp();
        Exec(db2_,
             "CREATE TABLE src (id int, v text); "
             "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 50) g");
    }
    long long Count(const std::string& table) {
        return std::stoll(Scalar(db1_, "SELECT count(*) FROM " + table));
    }
};

TEST_F(SchemasTest, EachItemAppendsToItsOwnTableAndNoOther) {
    Exec(db1_,
         "CREATE SCHEMA sales; CREATE TABLE public.dup (id int, v text); "
         "CREATE TABLE sales.dup (id int, v text); CREATE TABLE sales.orders (id int, v text); "
         "CREATE TABLE public.\"sales.orders\" (id int, v text)");
    const TableName src{"public", "src"};
    const struct {
        TableName table;
        std::string sql;
    } targets[] = {{{"sales", "dup"}, "sales.dup"},
                   {{"public", "dup"}, "public.dup"},
                   {{"sales", "orders"}, "sales.orders"},
                   {{"public", "sales.orders"}, "public.\"sales.orders\""}};
    long long expected = 0;
    for (const auto& target : targets) {
        PressTables(target.table, src);
        EXPECT_EQ(Messages(), QStringList{"Done."}) << target.sql;
        expected += 50;
        long long total = 0;
        for (const auto& each : targets) total += Count(each.sql);
        // The chosen table got the rows, and only it.
        EXPECT_EQ(Count(target.sql), 50) << target.sql;
        EXPECT_EQ(total, expected) << target.sql;
    }
}

TEST_F(SchemasTest, QuotedSchemaAndTableNamesInEitherDirection) {
    Exec(db1_, "CREATE SCHEMA \"Q 1\"; CREATE TABLE \"Q 1\".\"T\" (id int, v text)");
    Press("\"Q 1\".\"T\"", "src");
    EXPECT_EQ(Messages(), QStringList{"Done."});
    EXPECT_EQ(Count("\"Q 1\".\"T\""), 50);
    // Read from a schema beyond the search path: the message names it as the list does.
    Exec(db1_, "CREATE SCHEMA empty; CREATE TABLE empty.nothing (id int, v text)");
    Press("empty.nothing", "src", false);
    EXPECT_EQ(Messages(), QStringList{"No records in table empty.nothing."});
}

TEST_F(SchemasTest, ASchemaTheLoginMayNotUseIsRefusedAsATableWithoutPermission) {
    Admin(db1_,
          "CREATE SCHEMA closed; CREATE TABLE closed.dst (id int, v text); "
          "GRANT SELECT, INSERT ON closed.dst TO porter");
    Press("closed.dst", "src");
    EXPECT_TRUE(Reports().isEmpty());
    EXPECT_EQ(Messages(), QStringList{"You do not have permission to this table."});
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM pg_tables WHERE schemaname = 'closed'"), "1");
}

}  // namespace
}  // namespace trp
