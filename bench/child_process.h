#pragma once

#include <string>
#include <vector>

namespace trp::bench {

// What a child process printed and what it cost, as its parent saw it.
struct ChildOutcome {
    std::string output;       // its standard output
    bool succeeded = false;   // exited normally with status 0
    double wall_seconds = 0;  // from the start to the end, the process start included
    long peak_rss_kb = 0;     // its own peak resident memory
    double cpu_seconds = 0;   // its own processor time, user and system
};

// Runs this very program again with `arguments` in a child process and waits for it. Its peak
// memory is then its own, apart from the parent's (which holds the server and the proxy). The
// child reports it (see ReportOwnUsageAtExit).
ChildOutcome RunSelf(const std::vector<std::string>& arguments);

// This process's own peak resident memory, in kB.
long PeakResidentKb();

// Called first thing in a child: at its exit, it writes its own peak memory and processor time
// as its last line of output, for RunSelf to read.
void ReportOwnUsageAtExit();

}  // namespace trp::bench
