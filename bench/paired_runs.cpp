#include "paired_runs.h"

#include <algorithm>
#include <cstdio>

#include "bench_server.h"
#include "median.h"

namespace trp::bench {

std::string Goal::Text() const {
    char text[32];
    std::snprintf(text, sizeof text, "%s %gx", at_most ? "<=" : ">=", value);
    return text;
}

double Megabytes(long kilobytes) {
    return kilobytes / 1024.0;
}

std::vector<PairResult> RunPairs(int pairs, const Comparison& comparison, const Goal& goal) {
    std::vector<PairResult> results;
    for (int pair = 0; pair < pairs; ++pair) {
        PairResult result;
        for (int turn = 0; turn < 2; ++turn) {
            ResetTable(comparison.destination_database, comparison.destination_table,
                       comparison.also_truncate);
            const bool screen_turn = (turn == 0) == (pair % 2 == 0);
            if (screen_turn) {
                result.screen = RunThroughScreen(comparison.screen);
            } else {
                result.reference_seconds = TimeCommand(comparison.reference_command);
            }
            ExpectRows(comparison.destination_database, comparison.destination_table,
                       screen_turn ? comparison.screen_rows : comparison.reference_rows);
        }
        const double time_ratio = result.screen.seconds / result.reference_seconds;
        result.ratio = comparison.rows_per_second
                           ? comparison.screen_rows /
                                 static_cast<double>(comparison.reference_rows) / time_ratio
                           : time_ratio;
        if (comparison.rows_per_second) {
            std::printf(
                "  pair %d: screen %lld rows in %.3f s (%.0f rows/s, peak %.1f MB), reference "
                "%lld rows in %.3f s (%.0f rows/s): %.2fx\n",
                pair + 1, comparison.screen_rows, result.screen.seconds,
                comparison.screen_rows / result.screen.seconds,
                Megabytes(result.screen.peak_rss_kb), comparison.reference_rows,
                result.reference_seconds, comparison.reference_rows / result.reference_seconds,
                result.ratio);
        } else {
            std::printf("  pair %d: screen %.3f s (peak %.1f MB), reference %.3f s: %.3fx\n",
                        pair + 1, result.screen.seconds, Megabytes(result.screen.peak_rss_kb),
                        result.reference_seconds, result.ratio);
        }
        std::fflush(stdout);
        results.push_back(result);
    }
    std::vector<double> screen, reference, ratios;
    for (const PairResult& r : results) {
        screen.push_back(r.screen.seconds);
        reference.push_back(r.reference_seconds);
        ratios.push_back(r.ratio);
    }
    const double ratio = Median(ratios);
    std::printf("  median of %d pairs: screen %.3f s, reference %.3f s", pairs, Median(screen),
                Median(reference));
    if (comparison.rows_per_second) {
        std::printf(" (%lld and %lld rows)", comparison.screen_rows, comparison.reference_rows);
    }
    std::printf(", ratio %.3fx; goal %s: %s\n", ratio, goal.Text().c_str(),
                goal.MetBy(ratio) ? "met" : "NOT met");
    std::fflush(stdout);
    return results;
}

}  // namespace trp::bench
