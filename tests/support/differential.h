#pragma once

// The differential guard: the fast engine against the one-INSERT-per-row reference. Each run
// starts from an identical destination and must end with the same rows, the same reports and the
// same refused rows (with their source numbers) in the same order, or, with several writers, in
// any order, its rows having taken the path expected of it (so that a silent fall-back to
// INSERT statements, which would store the same rows, fails too).

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "append/append_operation.h"
#include "db/profile.h"

namespace trp {

// The path's name in the tests' messages.
void PrintTo(AppendPath path, std::ostream* out);

namespace test {

// One way of running the fast engine, and the paths its rows may take.
struct EngineRun {
    AppendStrategy strategy = AppendStrategy::Fast;
    bool binary = true;
    std::vector<AppendPath> paths;
};

struct DifferentialCase {
    AppendRequest request;
    // Makes the destination table afresh, with whatever it needs; called before every run.
    std::function<void()> make_destination;
    // Where the destination's rows are read (as the test role), and the query that reads them in
    // a fixed order.
    Profile destination;
    std::string ordered_rows;
    // Tiny batches, so that refused rows fall inside, across and at the edges of batches.
    std::vector<std::size_t> batches = {3, 4, 1000};
    // The source table is read in parts of one block, by as many sessions as writers and at
    // least two (the table must hold at least ten blocks).
    bool read_in_parts = false;
};

// Runs the reference, then each engine run at each batch size, and expects each to end with
// "Done." and as the reference did.
void ExpectSameAsRowByRow(const DifferentialCase& differential, const std::vector<EngineRun>& runs);

}  // namespace test
}  // namespace trp
