#include "support/differential.h"

#include <gtest/gtest.h>

#include <algorithm>

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
    AppendPath path = AppendPath::None;
};

Ending Run(const DifferentialCase& differential, const AppendOptions& options) {
    differential.make_destination();
    RecordingHost host;
    const AppendOutcome outcome = RunAppend(differential.request, host, options);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."})
        << (host.ErrorReports().empty() ? "" : "first report: " + host.ErrorReports().front());
    return {QueryRows(differential.destination, differential.ordered_rows), host.ErrorReports(),
            outcome.path};
}

}  // namespace

void ExpectSameAsRowByRow(const DifferentialCase& differential,
                          const std::vector<EngineRun>& runs) {
    AppendOptions reference;
    reference.strategy = AppendStrategy::RowByRow;
    const Ending expected = Run(differential, reference);
    ASSERT_FALSE(expected.rows.empty());

    for (const EngineRun& run : runs) {
        for (const std::size_t batch : differential.batches) {
            SCOPED_TRACE("strategy " + std::to_string(static_cast<int>(run.strategy)) +
                         (run.binary ? ", binary" : ", text") + ", batch " + std::to_string(batch));
            AppendOptions options;
            options.strategy = run.strategy;
            options.binary = run.binary;
            options.batch_rows = batch;
            options.insert_batch_rows = batch;
            const Ending actual = Run(differential, options);
            EXPECT_EQ(actual.rows, expected.rows);
            EXPECT_EQ(actual.reports, expected.reports);
            EXPECT_TRUE(std::find(run.paths.begin(), run.paths.end(), actual.path) !=
                        run.paths.end())
                << "the rows went by " << ::testing::PrintToString(actual.path);
        }
    }
}

}  // namespace test
}  // namespace trp
