#pragma once

#include <chrono>
#include <string>

namespace trp {

// A span of time as the program's progress writes it: "4:07" under an hour, "1:04:07" from an
// hour on.
std::string DurationText(long long seconds);

// The progress of a run in rows, as the command line prints it and the screen's bar tells it:
// "12,345 of 100,000 rows (12.3 %), 4,567 rows/s, 0:19 left"; the pace and the time left once
// rows have settled during `elapsed`.
std::string ProgressText(long long settled, long long total,
                         std::chrono::steady_clock::duration elapsed);

}  // namespace trp
