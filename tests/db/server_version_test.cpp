#include "db/server_version.h"

#include <gtest/gtest.h>

namespace trp {
namespace {

// What each server is asked, by version: the 64-bit transaction ids before and after 13 renamed
// them, and the features the engine's statements depend on.
TEST(ServerVersion, ChoosesEachVersionsStatements) {
    struct Case {
        int number;
        const char* name;
        const char* assign;  // the function that hands out the transaction's id
        const char* status;  // the status of transaction 42
        bool generated_columns;
        bool checks_client;
        bool user_timeout;
        bool block_ranges;
    };
    const Case cases[] = {
        {100023, "10", "txid_current()", "txid_status('42'::bigint)", false, false, false, false},
        {110022, "11", "txid_current()", "txid_status('42'::bigint)", false, false, false, false},
        {120022, "12", "txid_current()", "txid_status('42'::bigint)", true, false, true, false},
        {130023, "13", "pg_current_xact_id()", "pg_xact_status('42'::xid8)", true, false, true,
         false},
        {140023, "14", "pg_current_xact_id()", "pg_xact_status('42'::xid8)", true, true, true,
         true},
        {180004, "18", "pg_current_xact_id()", "pg_xact_status('42'::xid8)", true, true, true,
         true},
    };
    for (const Case& c : cases) {
        const ServerVersion server(c.number);
        SCOPED_TRACE(c.number);
        EXPECT_EQ(server.Name(), c.name);
        EXPECT_FALSE(server.TooOldToAppend());
        EXPECT_NE(server.CurrentTransactionId().find(c.assign), std::string::npos);
        EXPECT_EQ(server.TransactionStatus("42"), c.status);
        EXPECT_EQ(server.HasGeneratedColumns(), c.generated_columns);
        EXPECT_EQ(server.ChecksClientConnection(), c.checks_client);
        EXPECT_EQ(server.BoundsUnacknowledgedData(), c.user_timeout);
        EXPECT_EQ(server.ScansBlockRanges(), c.block_ranges);
    }
}

TEST(ServerVersion, RefusesServersOlderThanTen) {
    EXPECT_EQ(ServerVersion(90624).TooOldToAppend(),
              "PostgreSQL 9.6 is older than 10, the oldest version this program appends with.");
    EXPECT_EQ(ServerVersion(80423).Name(), "8.4");
    EXPECT_TRUE(ServerVersion(0).TooOldToAppend());  // no server at all
    EXPECT_FALSE(ServerVersion(100000).TooOldToAppend());
}

TEST(ServerVersion, QuotesOnlyTransactionIds) {
    EXPECT_THROW(ServerVersion(150000).TransactionStatus("1'); DROP TABLE t; --"),
                 std::invalid_argument);
    EXPECT_THROW(ServerVersion(150000).TransactionStatus(""), std::invalid_argument);
}

}  // namespace
}  // namespace trp
