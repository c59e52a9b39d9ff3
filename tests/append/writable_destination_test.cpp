// A destination that cannot be written ends the run with one report in the server's own words
// for the write, never words about a function the user did not call, and nothing is appended.
#include <gtest/gtest.h>

#include "append_test_support.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

class WritableDestinationTest : public AppendTest {
protected:
    void MakeTables(const std::string& destination_database, const std::string& extra = "") {
        Exec(db2_, "CREATE TABLE src (id int, b text)");
        Exec(db2_, "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 50) g");
        Exec(destination_database, "CREATE TABLE dst (id int, b text)" + extra);
        if (destination_database == db1_)
            Exec(db1_,
                 "CREATE TABLE src (id int, b text); INSERT INTO src SELECT g, 'row ' || g "
                 "FROM generate_series(1, 50) g");
    }
};

// Every way rows can go, into a database whose transactions are read-only by default.
TEST_F(WritableDestinationTest, ReadOnlyByDefaultIsTheWritesOwnReport) {
    struct Case {
        const char* name;
        std::string trigger;  // makes COPY unlike INSERT, so the INSERT path is taken
        bool binary;
        bool same_database;
        AppendPath path;
        const char* words;
    };
    const std::string trigger =
        "; CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NEW; END "
        "$$; CREATE TRIGGER keep BEFORE INSERT ON dst FOR EACH ROW EXECUTE PROCEDURE keep()";
    const Case cases[] = {
        {"binary COPY", "", true, false, AppendPath::BinaryCopy, "COPY FROM"},
        {"text COPY", "", false, false, AppendPath::TextCopy, "COPY FROM"},
        {"INSERT", trigger, true, false, AppendPath::Inserts, "INSERT"},
        {"inside the server", "", true, true, AppendPath::InsideServer, "INSERT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        MakeTables(db1_, c.trigger);
        Admin("postgres", "ALTER DATABASE " + db1_ + " SET default_transaction_read_only = on");
        AppendOptions options;
        options.binary = c.binary;
        AppendRequest request = Request("dst", "src");
        if (c.same_database) request.profile2 = request.profile1;
        RecordingHost host;
        const AppendOutcome outcome = RunAppend(request, host, options);
        ASSERT_EQ(host.ErrorReports().size(), 1u);
        EXPECT_EQ(host.ErrorReports()[0], RowReport(std::string("ERROR:  cannot execute ") +
                                                    c.words + " in a read-only transaction"));
        EXPECT_EQ(host.Messages(), std::vector<std::string>{test::StoppedMessage(0, 50)});
        EXPECT_EQ(outcome.path, c.path);
        Admin("postgres", "ALTER DATABASE " + db1_ + " RESET default_transaction_read_only");
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "0");
    }
}

}  // namespace
}  // namespace trp
