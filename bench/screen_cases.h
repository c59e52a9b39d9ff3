#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace trp::bench {

struct BenchSettings {
    int pairs = 5;
    std::optional<long long> rows;      // replaces each case's own row count
    long long value_bytes = 100 << 20;  // the one large value's length
    // The program and its server options, to print each case's own command line.
    std::string command;
};

// What a case leaves for later ones: the peak memory seen at each table size.
struct BenchResults {
    std::map<long long, long> peak_rss_kb_by_rows;
};

// What one case is given to run with.
struct CaseContext {
    const BenchSettings& settings;
    BenchResults& results;
    long long rows;       // the case's own size, or the one of --rows
    std::string command;  // the command line that runs this case alone
};

// One row of the targets table: its name on the command line, what it measures, its default
// size, and how it runs (against the server of PGHOST and friends, in the databases bench_a
// and bench_b, which exist).
struct BenchCase {
    const char* name;
    const char* title;
    long long default_rows;
    void (*run)(const CaseContext&);
    bool sized_by_rows = true;  // false: --rows leaves it alone
};

const std::vector<BenchCase>& BenchCases();

}  // namespace trp::bench
