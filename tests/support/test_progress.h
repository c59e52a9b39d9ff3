#pragma once

#include <gtest/gtest.h>

#include <string>

namespace trp::test {

// The environment variable naming the file that ProgressListener appends to.
inline constexpr const char* kProgressVariable = "TRP_TEST_PROGRESS";

// Appends a line to a file for every test as it starts ("<program> [3/41] Suite.Name") and
// for every test that was skipped ("<program> skipped Suite.Name: reason"), so that a runner
// that keeps the programs' own output to itself (ctest) can still show both. Each line is one
// write to a file opened for appending, so programs running side by side do not tear lines.
class ProgressListener : public ::testing::EmptyTestEventListener {
public:
    ProgressListener(const std::string& file, const std::string& program_path);
    ~ProgressListener() override;
    ProgressListener(const ProgressListener&) = delete;
    ProgressListener& operator=(const ProgressListener&) = delete;

    void OnTestProgramStart(const ::testing::UnitTest& unit_test) override;
    void OnTestStart(const ::testing::TestInfo& test) override;
    void OnTestEnd(const ::testing::TestInfo& test) override;

private:
    void WriteLine(std::string line) const;

    int fd_ = -1;
    std::string program_;
    int started_ = 0;
    int to_run_ = 0;
};

}  // namespace trp::test
