// The settling of a failed batch, driven by a scripted destination that refuses given rows: every
// row ends stored or refused exactly once, in source order, with as few attempts as the pattern
// of refusals allows.
#include "append/settling.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "append/run_failure.h"
#include "append/settlement.h"

namespace trp {
namespace {

// Refuses the rows in `refused`; a piece's failure names its first refused row where `names_row`
// (as COPY's does), in the row's own words where `in_row_words`. A row in `ends_run` fails for
// the whole run.
class ScriptedDestination : public SettlingTarget {
public:
    std::set<std::size_t> refused, ends_run;
    bool names_row = true;
    bool in_row_words = false;

    std::string outcomes;  // "s3-7 r7 ..." in the order they were told
    int pieces = 0, alone = 0, one_by_one = 0;

    PieceResult Try(std::size_t first, std::size_t last) const {
        PieceResult result;
        for (std::size_t row = first; row < last; ++row) {
            if (!refused.count(row) && !ends_run.count(row)) continue;
            result.failure = std::make_exception_ptr(
                std::runtime_error(ends_run.count(row) ? "run" : "row " + std::to_string(row)));
            if (names_row || last - first == 1) result.failed_row = row;
            result.failure_is_the_rows = in_row_words;
            return result;
        }
        result.stored = true;
        result.added = static_cast<long long>(last - first);
        return result;
    }
    PieceResult Piece(std::size_t first, std::size_t last) override {
        ++pieces;
        return Try(first, last);
    }
    PieceResult Alone(std::size_t row) override {
        ++alone;
        return Try(row, row + 1);
    }
    // As the destination does: nothing after a failure of the run's.
    std::vector<PieceResult> OneByOne(std::size_t first, std::size_t last) override {
        ++one_by_one;
        std::vector<PieceResult> results;
        for (std::size_t row = first; row < last; ++row) {
            results.push_back(Try(row, row + 1));
            if (ends_run.count(row)) break;
        }
        return results;
    }
    void Stored(std::size_t first, std::size_t last, long long added) override {
        EXPECT_EQ(added, static_cast<long long>(last - first));
        outcomes += "s" + std::to_string(first) + "-" + std::to_string(last - 1) + " ";
    }
    void Refused(std::size_t row, const std::exception_ptr&) override {
        outcomes += "r" + std::to_string(row) + " ";
    }
    void ThrowIfRunEnds(const std::exception_ptr& failure) override {
        try {
            std::rethrow_exception(failure);
        } catch (const std::runtime_error& error) {
            if (std::string(error.what()) == "run") throw;
        }
    }
    void StopPoint() override {}
};

// Every row once, stored or refused, and in the source's order.
void ExpectEveryRowOnceInOrder(const std::string& outcomes, std::size_t rows,
                               const std::set<std::size_t>& refused) {
    std::size_t next = 0;
    std::size_t at = 0;
    while (at < outcomes.size()) {
        const std::size_t end = outcomes.find(' ', at);
        const std::string item = outcomes.substr(at, end - at);
        at = end + 1;
        if (item[0] == 'r') {
            EXPECT_EQ(std::stoul(item.substr(1)), next) << outcomes;
            EXPECT_TRUE(refused.count(next)) << next;
            ++next;
        } else {
            const std::size_t dash = item.find('-');
            EXPECT_EQ(std::stoul(item.substr(1, dash - 1)), next) << outcomes;
            const std::size_t last = std::stoul(item.substr(dash + 1));
            for (; next <= last; ++next) EXPECT_FALSE(refused.count(next)) << next;
        }
    }
    EXPECT_EQ(next, rows) << outcomes;
}

TEST(Settling, EveryRowOnceInOrderWithFewAttempts) {
    struct Case {
        const char* name;
        std::size_t rows;
        std::set<std::size_t> refused;
        bool names_row;
        bool in_row_words;
        int most_attempts;  // pieces, lone rows and one-by-one runs together
    };
    std::set<std::size_t> every_thousandth, every_row, run_of_ten;
    for (std::size_t row = 999; row < 20000; row += 1000) every_thousandth.insert(row);
    for (std::size_t row = 0; row < 2000; ++row) every_row.insert(row);
    for (std::size_t row = 500; row < 510; ++row) run_of_ten.insert(row);
    const Case cases[] = {
        {"one refused row, named", 1000, {437}, true, false, 4},
        {"one refused row, in its own words", 1000, {437}, true, true, 3},
        {"one refused row, not named: halves", 1024, {437}, false, false, 20},
        {"the first and the last", 100, {0, 99}, true, false, 5},
        {"one in a thousand", 20000, every_thousandth, true, true, 60},
        {"every row", 2000, every_row, true, false, 12},
        {"ten in a row amid others", 3000, run_of_ten, true, false, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDestination destination;
        destination.refused = c.refused;
        destination.names_row = c.names_row;
        destination.in_row_words = c.in_row_words;
        RefusalPattern pattern;
        Settling(destination, pattern).Run(c.rows, destination.Try(0, c.rows));
        ExpectEveryRowOnceInOrder(destination.outcomes, c.rows, c.refused);
        EXPECT_EQ(pattern.refused, static_cast<long long>(c.refused.size()));
        EXPECT_LE(destination.pieces + destination.alone + destination.one_by_one, c.most_attempts);
        // A failure in the row's own words is its report: it never goes again alone.
        if (c.in_row_words && c.names_row) {
            EXPECT_EQ(destination.alone, 0);
        }
    }
}

TEST(Settling, AFailureOfTheRunEndsItKeepingTheRowsBeforeIt) {
    ScriptedDestination destination;
    // Refusals one after the other, so rows go one by one, and among them one that ends the run.
    destination.refused = {10, 11, 13};
    destination.ends_run = {12};
    RefusalPattern pattern;
    EXPECT_THROW(Settling(destination, pattern).Run(300, destination.Try(0, 300)),
                 std::runtime_error);
    // Row 12 has no outcome, and nothing after it went in.
    EXPECT_EQ(destination.outcomes, "s0-9 r10 r11 ");
}

// A committed transaction's outcomes are all counted even when a refused row's report fails on
// the way (its values could not be looked up at the source): the failure comes after them, and
// no committed row is left to be sent again.
TEST(HandOnAll, CountsEveryOutcomeOfACommitBeforeAFailureGoesOn) {
    class FailingSink : public SettlementSink {
    public:
        std::string told;
        void Settled(std::size_t first, std::size_t last, long long) override {
            told += "s" + std::to_string(first) + "-" + std::to_string(last) + " ";
        }
        void RowRefused(std::size_t row, const std::exception_ptr&) override {
            told += "r" + std::to_string(row) + " ";
            throw SourceLost("source lost at row " + std::to_string(row));
        }
        void RefusalsComing(const std::vector<std::size_t>& rows) override {
            told += "coming";
            for (const std::size_t row : rows) told += " " + std::to_string(row);
            told += ", ";
        }
        bool ReportsMayWait() const override { return true; }
        void Unchecked(std::size_t) override {}
        void ThrowIfRunEnds(const std::exception_ptr&) override {}
        void StopPoint() override {}
        InDoubtCommit Doubt(std::optional<long long>) const override { return {}; }
        void Committed(const CommitRecord&) override {}
        void CommitLost(bool, CommitRecord, long long) override {}
    } sink;
    const auto refusal = std::make_exception_ptr(std::runtime_error("refused"));
    try {
        HandOnAll(sink, {{0, 3, 3, nullptr},
                         {3, 4, 0, refusal},
                         {4, 9, 5, nullptr},
                         {9, 10, 0, refusal},
                         {10, 12, 2, nullptr}});
        ADD_FAILURE() << "the failure was not passed on";
    } catch (const SourceLost& lost) {
        EXPECT_STREQ(lost.what(), "source lost at row 3");
    }
    // The refused rows are announced together first, so that their values are read at once.
    EXPECT_EQ(sink.told, "coming 3 9, s0-3 r3 s4-9 r9 s10-12 ");
}

}  // namespace
}  // namespace trp
