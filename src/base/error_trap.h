#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/error_report.h"

namespace trp {

class OperationHost;

// The error trap of one invocation of a trapped procedure. The procedure runs its body as
// numbered steps through the trap; a step that throws gets one error report naming the step's
// line, and the procedure goes on with its next step in text order.
//
//     ErrorTrap trap(LocationText("Form2", "PushButton5_Click"), host);
//     trap.Step(100, [&] { form1.show(); });
//     trap.Step(102, [&] { hide(); });
class ErrorTrap {
public:
    ErrorTrap(std::string location_text, OperationHost& host)
        : location_(std::move(location_text)), host_(host) {}

    // Runs a step as numbered line `line`. Returns whether it finished without failure.
    template <typename Fn>
    bool Step(int line, Fn&& step) {
        current_line_ = line;
        try {
            std::forward<Fn>(step)();
            return true;
        } catch (...) {
            // The step's own line, whatever steps ran inside it.
            current_line_ = line;
            Report(std::current_exception());
            return false;
        }
    }

    // The test of a conditional. A test that fails counts as true: execution goes on inside the
    // conditional's first branch, the step that follows the test in text order.
    template <typename Fn>
    bool Test(int line, Fn&& test) {
        current_line_ = line;
        try {
            return static_cast<bool>(std::forward<Fn>(test)());
        } catch (...) {
            current_line_ = line;
            Report(std::current_exception());
            return true;
        }
    }

    // The head of a counted loop; returns its number of passes. A head that fails runs no
    // passes: entering the body with nothing to count would repeat its failures without end.
    template <typename Fn>
    long long LoopCount(int line, Fn&& count) {
        current_line_ = line;
        try {
            return static_cast<long long>(std::forward<Fn>(count)());
        } catch (...) {
            Report(std::current_exception());
            return 0;
        }
    }

    int CurrentLine() const { return current_line_; }
    const std::string& Location() const { return location_; }

    // Shows the report for a failure caught by the procedure itself at the current line.
    void Report(const std::exception_ptr& failure);

private:
    std::string location_;
    OperationHost& host_;
    int current_line_ = 0;
};

// The text that comes with a failure: the exception's own message.
std::string FailureDescription(const std::exception_ptr& failure);

// The standard text of a step that uses an object whose creating step failed.
inline constexpr const char* kObjectNotSet = "Object variable or With block variable not set";

// The object an earlier step made; a step that uses it when that step failed fails in turn, as a
// call on a missing object would.
template <typename T>
T& Existing(std::optional<T>& object) {
    if (!object) throw std::runtime_error(kObjectNotSet);
    return *object;
}

}  // namespace trp
