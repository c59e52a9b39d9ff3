#pragma once

#include <string>
#include <vector>

#include "screen_run.h"

namespace trp::bench {

// A case's goal for the median ratio: at most (a time ratio) or at least (a speed-up).
struct Goal {
    bool at_most = true;
    double value = 1.0;

    bool MetBy(double ratio) const { return at_most ? ratio <= value : ratio >= value; }
    std::string Text() const;  // "<= 0.85x" or ">= 10x"
};

// The engine through the screen against a reference command, run in alternating pairs. Before
// each run the destination table is emptied (with `also_truncate`, tables a rule fills) and
// written out; after it, its rows are counted.
struct Comparison {
    ScreenRun screen;
    long long screen_rows = 0;
    std::string reference_command;
    long long reference_rows = 0;
    std::string destination_database;
    std::string destination_table;
    std::string also_truncate;
    // The figure of a pair: the screen's time over the reference's, or, when rows_per_second,
    // the screen's rows per second over the reference's.
    bool rows_per_second = false;
};

struct PairResult {
    ScreenResult screen;
    double reference_seconds = 0;
    double ratio = 0;
};

// Runs `pairs` pairs, the screen first in odd pairs and the reference first in even ones,
// printing each pair as it ends and then the medians against the goal. Returns the pairs.
std::vector<PairResult> RunPairs(int pairs, const Comparison& comparison, const Goal& goal);

double Megabytes(long kilobytes);

}  // namespace trp::bench
