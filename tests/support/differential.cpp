#include "support/differential.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "support/pg_fixture.h"
#include "support/recording_host.h"

namespace trp {

void PrintTo(AppendPath path, std::ostream* out) {
    switch (path) {
        case AppendPath::None:
            *out << "no path";
            return;
        case AppendPath::BinaryCopy:
            *out << "binary COPY";
            return;
        case AppendPath::TextCopy:
            *out << "text COPY";
            return;
        case AppendPath::Inserts:
            *out << "INSERT statements";
            return;
        case AppendPath::InsideServer:
            *out << "inside the server";
            return;
    }
    *out << "path " << static_cast<int>(path);
}

namespace test {
namespace {

struct Ending {
    Rows rows;
    std::vector<std::string> reports;
    // The refused-rows file's lines after its heading, each with the row's source number.
    std::vector<std::string> refused;
    AppendPath path = AppendPath::None;
    std::size_t source_sessions = 1;

    // Several writers settle their batches in any order: what they end with, in one order.
    Ending Sorted() const {
        Ending sorted = *this;
        std::sort(sorted.rows.begin(), sorted.rows.end());
        std::sort(sorted.reports.begin(), sorted.reports.end());
        std::sort(sorted.refused.begin(), sorted.refused.end());
        return sorted;
    }
};

// The refused rows' lines after the heading, then each reason's source number and SQLSTATE
// (its record number in the rows' file follows from their order).
std::vector<std::string> RefusedLines(const std::string& path) {
    std::vector<std::string> lines;
    if (path.empty()) return lines;
    std::ifstream rows(path);
    for (std::string line; std::getline(rows, line);) lines.push_back(line);
    if (!lines.empty()) lines.erase(lines.begin());
    static const std::regex reason("^[0-9]+,([0-9]+),([0-9A-Z]{5}),");
    std::ifstream reasons(path.substr(0, path.size() - 4) + ".reasons.csv");
    for (std::string line; std::getline(reasons, line);)
        if (std::smatch match; std::regex_search(line, match, reason))
            lines.push_back("source row " + match[1].str() + ": " + match[2].str());
    return lines;
}

Ending Run(const DifferentialCase& differential, const AppendOptions& options) {
    differential.make_destination();
    RecordingHost host;
    const AppendOutcome outcome = RunAppend(differential.request, host, options);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."})
        << (host.ErrorReports().empty() ? "" : "first report: " + host.ErrorReports().front());
    return {QueryRows(differential.destination, differential.ordered_rows), host.ErrorReports(),
            RefusedLines(outcome.refused_rows_path), outcome.path, outcome.source_sessions};
}

}  // namespace

void ExpectSameAsRowByRow(const DifferentialCase& differential,
                          const std::vector<EngineRun>& runs) {
    AppendOptions reference;
    reference.strategy = AppendStrategy::RowByRow;
    const Ending expected = Run(differential, reference);
    ASSERT_FALSE(expected.rows.empty());

    for (const EngineRun& run : runs) {
        // Only COPY batches go through several writers.
        const std::vector<int> writers =
            run.strategy == AppendStrategy::Fast ? std::vector<int>{1, 2, 4} : std::vector<int>{1};
        for (const std::size_t batch : differential.batches) {
            for (const int writer_count : writers) {
                SCOPED_TRACE("strategy " + std::to_string(static_cast<int>(run.strategy)) +
                             (run.binary ? ", binary" : ", text") + ", batch " +
                             std::to_string(batch) + ", writers " + std::to_string(writer_count));
                AppendOptions options;
                options.strategy = run.strategy;
                options.binary = run.binary;
                options.batch_rows = batch;
                options.insert_batch_rows = batch;
                options.writers = writer_count;
                if (differential.read_in_parts) {
                    options.part_blocks = 1;
                    options.readers = std::clamp(writer_count, 2, 4);
                }
                const Ending actual = Run(differential, options);
                if (differential.read_in_parts) {
                    EXPECT_EQ(actual.source_sessions, static_cast<std::size_t>(options.readers));
                }
                const bool in_order = writer_count == 1;
                EXPECT_EQ(in_order ? actual.rows : actual.Sorted().rows,
                          in_order ? expected.rows : expected.Sorted().rows);
                EXPECT_EQ(in_order ? actual.reports : actual.Sorted().reports,
                          in_order ? expected.reports : expected.Sorted().reports);
                EXPECT_EQ(in_order ? actual.refused : actual.Sorted().refused,
                          in_order ? expected.refused : expected.Sorted().refused);
                EXPECT_TRUE(std::find(run.paths.begin(), run.paths.end(), actual.path) !=
                            run.paths.end())
                    << "the rows went by " << ::testing::PrintToString(actual.path);
            }
        }
    }
}

}  // namespace test
}  // namespace trp
