// The lines that scripts/test.sh shows while ctest runs a test program: each test as it starts,
// and each skipped test with its reason.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "support/program_run.h"
#include "support/test_progress.h"

namespace trp {
namespace {

const QString kProbe = QStringLiteral(TRP_PROGRESS_PROBE);

class ProgressTest : public ::testing::Test {
protected:
    // Runs the probe; it appends to `progress_file` when that is not empty. This program's own
    // progress file (when scripts/test.sh runs it) is never handed on.
    test::ProgramResult RunProbe(const QString& progress_file, const QStringList& arguments = {}) {
        QProcessEnvironment environment = test::HeadlessEnvironment(home_.path());
        environment.remove(test::kProgressVariable);
        if (!progress_file.isEmpty()) environment.insert(test::kProgressVariable, progress_file);
        return test::RunProgram(kProbe, arguments, environment);
    }
    std::string Progress() const {
        QFile file(progress_file_);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    QTemporaryDir home_;
    QTemporaryDir folder_;
    const QString progress_file_ = folder_.filePath("progress");
};

TEST_F(ProgressTest, NamesEachTestAsItStartsAndEachSkipWithItsReason) {
    const test::ProgramResult probe = RunProbe(progress_file_);
    ASSERT_TRUE(probe.exited) << probe.errors.toStdString();
    EXPECT_EQ(probe.exit_code, 0) << probe.output.toStdString();
    EXPECT_EQ(Progress(),
              "progress_probe [1/4] Probe.Passes\n"
              "progress_probe [2/4] Probe.SkipsWithAReasonOfTwoLines\n"
              "progress_probe skipped Probe.SkipsWithAReasonOfTwoLines: the machine lacks a "
              "thing that this test needs\n"
              "progress_probe [3/4] Probe.SkipsWithoutAReason\n"
              "progress_probe skipped Probe.SkipsWithoutAReason: no reason given\n"
              "progress_probe [4/4] Probe.PassesAfterTheSkips\n");
}

TEST_F(ProgressTest, CountsOnlyTheTestsThatRunAndAppendsToWhatIsThere) {
    QFile file(progress_file_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("earlier program [1/1] Earlier.Test\n");
    file.close();
    const test::ProgramResult probe = RunProbe(progress_file_, {"--gtest_filter=Probe.Passes"});
    EXPECT_EQ(probe.exit_code, 0) << probe.output.toStdString();
    EXPECT_EQ(Progress(),
              "earlier program [1/1] Earlier.Test\n"
              "progress_probe [1/1] Probe.Passes\n");
}

TEST_F(ProgressTest, WithoutTheVariableNothingIsWritten) {
    const test::ProgramResult probe = RunProbe(QString());
    EXPECT_EQ(probe.exit_code, 0) << probe.output.toStdString();
    EXPECT_FALSE(QFile::exists(progress_file_));
    // GoogleTest's own report is unchanged.
    EXPECT_TRUE(probe.output.contains("[  SKIPPED ] 2 tests")) << probe.output.toStdString();
}

}  // namespace
}  // namespace trp
