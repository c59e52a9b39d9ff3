// What a run tells its caller besides its messages: how it ended, the source's rows, the tally,
// the refused rows and their file; and the progress in rows that a console shows.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <algorithm>
#include <utility>
#include <vector>

#include "append/row_transfer.h"
#include "append_test_support.h"

namespace trp {
namespace {

using End = AppendOutcome::End;

// Remembers the rows told as settled, with their total.
class CountingHost : public test::RecordingHost {
public:
    void RowsSettled(long long settled, long long total) override {
        settled_rows.emplace_back(settled, total);
    }
    std::vector<std::pair<long long, long long>> settled_rows;
};

class AppendOutcomeTest : public test::AppendTest {};

TEST_F(AppendOutcomeTest, SaysHowEachRunEndedAsItsLastMessageDoes) {
    Exec(db1_,
         "CREATE TABLE one (id int, qty int CHECK (qty >= 0)); CREATE TABLE narrow (id int);"
         "CREATE TABLE empty (id int, qty int)");
    Exec(db2_,
         "CREATE TABLE two (id int, qty int); CREATE TABLE empty (id int, qty int);"
         "INSERT INTO two SELECT g, CASE WHEN g IN (3, 7) THEN -1 ELSE g END "
         "FROM generate_series(1, 10) g");

    test::RecordingHost host;
    EXPECT_EQ(
        RunAppend(AppendRequest{std::nullopt, "two", true, UserProfile(db1_), UserProfile(db2_)},
                  host)
            .end,
        End::NothingSelected);
    EXPECT_EQ(RunAppend(Request("one", "missing"), host).end, End::Permission);
    EXPECT_EQ(RunAppend(Request("narrow", "two"), host).end, End::ColumnCounts);
    const AppendOutcome empty = RunAppend(Request("one", "empty"), host);
    EXPECT_EQ(empty.end, End::NoRecords);
    EXPECT_EQ(empty.source_rows, 0);

    CountingHost counting;
    const AppendOutcome refused = RunAppend(Request("one", "two"), counting);
    EXPECT_EQ(refused.end, End::Done);
    EXPECT_EQ(refused.source_rows, 10);
    EXPECT_EQ(refused.tally.settled, 10);
    EXPECT_EQ(refused.tally.added, 8);
    EXPECT_EQ(refused.refused, 2);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(refused.refused_rows_path)));
    const auto last = std::find_if(counting.events.rbegin(), counting.events.rend(),
                                   [](const auto& e) { return e.kind == e.Message; });
    ASSERT_NE(last, counting.events.rend());
    EXPECT_EQ(last->text, "Done.");
    EXPECT_EQ(last->informative, RefusedRowsNote(2, refused.refused_rows_path));
    // From nothing as the rows begin to move, up to every row; the total throughout.
    ASSERT_GE(counting.settled_rows.size(), 2u);
    EXPECT_EQ(counting.settled_rows.front(), std::make_pair(0LL, 10LL));
    EXPECT_EQ(counting.settled_rows.back(), std::make_pair(10LL, 10LL));

    // A failure of the whole run: the stopped message's count.
    Admin(db1_, "REVOKE INSERT ON one FROM porter");
    const AppendOutcome stopped = RunAppend(Request("one", "two"), host);
    EXPECT_EQ(stopped.end, End::Stopped);
    EXPECT_EQ(stopped.tally.added, 0);
    EXPECT_EQ(stopped.refused, 0);
    EXPECT_TRUE(stopped.refused_rows_path.empty());
    EXPECT_EQ(host.Messages().back(), StoppedMessage(stopped.tally, 10));
}

}  // namespace
}  // namespace trp
