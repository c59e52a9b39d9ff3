#pragma once

#include <string>
#include <vector>

#include "db/profile.h"

namespace trp::bench {

// One "Start Appending" through the real screens on Qt's offscreen platform, as a user with two
// saved profiles does it: start-up goes straight on to the table selection screen, the user
// selects a table in each list, the direction, and presses the button.
struct ScreenRun {
    Profile profile1;    // database #1
    Profile profile2;    // database #2
    std::string table1;  // selected in List1
    std::string table2;  // selected in List2
    // Option1, "Append to Table in Database #1" (rows of the List2 table go into the List1
    // table), rather than Option2. With the same database in both profiles the options are
    // disabled and Option1 stays as it is.
    bool into1 = false;
    // Refused rows are expected: the first one's report is answered "Ignore All", and the run
    // still has to end with "Done.".
    bool ignore_all = false;
};

struct ScreenResult {
    double seconds = 0;        // from the press of "Start Appending" to the "Done." box
    int row_reports = 0;       // refused rows' reports shown (ignore_all: at most one)
    long peak_rss_kb = 0;      // the program's peak resident memory
    long rss_at_press_kb = 0;  // its peak before the press: the screens, libraries and probes
};

// Runs it in a child process of its own, so that the peak memory is the program's alone.
// Throws unless the run ended with "Done." and showed no error report.
ScreenResult RunThroughScreen(const ScreenRun& run);

// The child's side; main hands it the arguments that follow kScreenChild.
inline constexpr const char* kScreenChild = "--screen-child";
int ScreenChildMain(const std::vector<std::string>& arguments);

}  // namespace trp::bench
