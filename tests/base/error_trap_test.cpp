#include "base/error_trap.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "base/error_report.h"
#include "support/recording_host.h"

namespace trp {
namespace {

using test::RecordingHost;

std::string Report(const std::string& description, int line) {
    return description + "\r\nin TessalineRowPort2021/08/31.Form1.Form_Load at line " +
           std::to_string(line) + "\r\rPlease email screenshot of this message to " +
           std::string(kSupportAddress);
}

TEST(ErrorReport, TextIsExactAndShownWithTitleAndWarningThroughTheHost) {
    EXPECT_EQ(LocationText("Form1", "Form_Load"), "in TessalineRowPort2021/08/31.Form1.Form_Load ");
    EXPECT_EQ(ComposeErrorReport("boom", LocationText("Form1", "Form_Load"), 116),
              "boom\r\nin TessalineRowPort2021/08/31.Form1.Form_Load at line 116\r\r"
              "Please email screenshot of this message to support@kestrelby.example");
    EXPECT_EQ(ComposeErrorReport("", "in X.Y.Z ", 100).substr(0, 2), "\r\n");
}

TEST(ErrorTrap, EachFailedStepReportsItsOwnLineAndTheNextStepRuns) {
    RecordingHost host;
    ErrorTrap trap(LocationText("Form1", "Form_Load"), host);
    std::vector<int> ran;
    trap.Step(100, [&] { ran.push_back(100); });
    EXPECT_FALSE(trap.Step(104, [&]() { throw std::runtime_error("first"); }));
    trap.Step(124, [&] { ran.push_back(124); });
    trap.Step(126, [&]() { throw std::runtime_error("second"); });
    trap.Step(128, [&] { ran.push_back(128); });
    EXPECT_EQ(ran, (std::vector<int>{100, 124, 128}));
    EXPECT_EQ(host.ErrorReports(),
              (std::vector<std::string>{Report("first", 104), Report("second", 126)}));
}

TEST(ErrorTrap, AFailingConditionalEntersItsFirstBranch) {
    RecordingHost host;
    ErrorTrap trap(LocationText("Form1", "Form_Load"), host);
    bool first_branch = false;
    if (trap.Test(124, []() -> bool { throw std::runtime_error("no folder"); })) {
        first_branch = true;
    }
    EXPECT_TRUE(first_branch);
    EXPECT_FALSE(trap.Test(148, [] { return false; }));
    EXPECT_EQ(host.ErrorReports(), std::vector<std::string>{Report("no folder", 124)});
}

TEST(ErrorTrap, AStepOnAnObjectThatWasNeverMadeFailsWithTheStandardText) {
    RecordingHost host;
    ErrorTrap trap(LocationText("Form1", "Form_Load"), host);
    std::optional<std::string> never;
    trap.Step(102, [&] {
        throw std::runtime_error("cannot create");
        never.emplace();
    });
    trap.Step(104, [&] { Existing(never).append("x"); });
    EXPECT_EQ(
        host.ErrorReports(),
        (std::vector<std::string>{Report("cannot create", 102),
                                  Report("Object variable or With block variable not set", 104)}));
}

TEST(ErrorTrap, AFailingLoopHeadRunsNoPasses) {
    RecordingHost host;
    ErrorTrap trap(LocationText("Form1", "Form_Load"), host);
    int passes = 0;
    const long long count =
        trap.LoopCount(110, []() -> long long { throw std::runtime_error("x"); });
    for (long long i = 0; i < count; ++i) ++passes;
    EXPECT_EQ(passes, 0);
    EXPECT_EQ(host.ErrorReports().size(), 1u);
    EXPECT_EQ(trap.CurrentLine(), 110);
}

}  // namespace
}  // namespace trp
