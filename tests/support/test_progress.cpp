#include "support/test_progress.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace trp::test {
namespace {

std::string TestName(const ::testing::TestInfo& test) {
    return std::string(test.test_suite_name()) + "." + test.name();
}

// The message of the first skip recorded in the result, on one line; empty when there is none.
std::string SkipMessage(const ::testing::TestResult& result) {
    for (int i = 0; i < result.total_part_count(); ++i) {
        const ::testing::TestPartResult& part = result.GetTestPartResult(i);
        if (!part.skipped()) continue;
        std::string message = part.message();
        for (char& c : message)
            if (c == '\n' || c == '\r') c = ' ';
        while (!message.empty() && message.back() == ' ') message.pop_back();
        if (!message.empty()) return message;
    }
    return {};
}

// Where a suite's SetUpTestSuite or a global environment skips (GoogleTest 1.13 on skips their
// tests then), the reason is recorded there rather than in the test's own result.
std::string SkipReason(const ::testing::TestInfo& test) {
    const ::testing::UnitTest& unit_test = *::testing::UnitTest::GetInstance();
    std::string reason = SkipMessage(*test.result());
    if (reason.empty() && unit_test.current_test_suite())
        reason = SkipMessage(unit_test.current_test_suite()->ad_hoc_test_result());
    if (reason.empty()) reason = SkipMessage(unit_test.ad_hoc_test_result());
    return reason.empty() ? "no reason given" : reason;
}

}  // namespace

ProgressListener::ProgressListener(const std::string& file, const std::string& program_path)
    : fd_(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)),
      program_(std::filesystem::path(program_path).filename().string()) {}

ProgressListener::~ProgressListener() {
    if (fd_ >= 0) ::close(fd_);
}

void ProgressListener::OnTestProgramStart(const ::testing::UnitTest& unit_test) {
    to_run_ = unit_test.test_to_run_count();
}

void ProgressListener::OnTestStart(const ::testing::TestInfo& test) {
    ++started_;
    WriteLine(program_ + " [" + std::to_string(started_) + "/" + std::to_string(to_run_) + "] " +
              TestName(test));
}

void ProgressListener::OnTestEnd(const ::testing::TestInfo& test) {
    if (test.result()->Skipped())
        WriteLine(program_ + " skipped " + TestName(test) + ": " + SkipReason(test));
}

void ProgressListener::WriteLine(std::string line) const {
    if (fd_ < 0) return;
    line += '\n';
    // Progress is a courtesy: a line that cannot be written is not worth failing a test over.
    while (::write(fd_, line.data(), line.size()) < 0 && errno == EINTR) {
    }
}

}  // namespace trp::test
