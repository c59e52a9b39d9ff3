// The progress in rows as the command line prints it and the screen's bar tells it.
#include "base/progress_text.h"

#include <gtest/gtest.h>

#include <chrono>

namespace trp {
namespace {

using namespace std::chrono_literals;

TEST(ProgressText, GivesRowsPercentPaceAndTimeLeft) {
    EXPECT_EQ(ProgressText(0, 1'000'000, 0s), "0 of 1,000,000 rows (0.0 %)");
    EXPECT_EQ(ProgressText(250'000, 1'000'000, 10s),
              "250,000 of 1,000,000 rows (25.0 %), 25,000 rows/s, 0:30 left");
    // Rounded down: 100 % only once every row is settled.
    EXPECT_EQ(ProgressText(999'999, 1'000'000, 100s).substr(0, 34),
              "999,999 of 1,000,000 rows (99.9 %)");
    EXPECT_EQ(ProgressText(1'000'000, 1'000'000, 100s),
              "1,000,000 of 1,000,000 rows (100.0 %), 10,000 rows/s, 0:00 left");
    // Hours once the rest takes an hour or more; a started second counts.
    EXPECT_EQ(ProgressText(1000, 5'000'000, 1s),
              "1,000 of 5,000,000 rows (0.0 %), 1,000 rows/s, 1:23:19 left");
    EXPECT_EQ(ProgressText(3, 10, 2s), "3 of 10 rows (30.0 %), 2 rows/s, 0:05 left");
}

}  // namespace
}  // namespace trp
