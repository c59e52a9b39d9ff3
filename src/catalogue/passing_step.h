#pragma once

#include <exception>
#include <utility>

#include "base/error_trap.h"
#include "db/connection.h"

namespace trp {

template <typename Kind>
bool IsOfKind(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Kind&) {
        return true;
    } catch (...) {
        return false;
    }
}

// A step under the error trap, except that an exception of the `Passing` kinds (a wait
// abandoned because the program is ending, say) is no failure of the step: no report, and it
// passes through to end the procedure.
template <typename... Passing, typename Fn>
bool StepPassing(ErrorTrap& trap, int line, Fn&& step) {
    std::exception_ptr passing;
    const bool ok = trap.Step(line, [&] {
        try {
            std::forward<Fn>(step)();
        } catch (...) {
            if (!(IsOfKind<Passing>(std::current_exception()) || ...)) throw;
            passing = std::current_exception();
        }
    });
    if (passing) std::rethrow_exception(passing);
    return ok;
}

// The same for the test of a conditional (see ErrorTrap::Test).
template <typename... Passing, typename Fn>
bool TestPassing(ErrorTrap& trap, int line, Fn&& test) {
    std::exception_ptr passing;
    const bool result = trap.Test(line, [&] {
        try {
            return static_cast<bool>(std::forward<Fn>(test)());
        } catch (...) {
            if (!(IsOfKind<Passing>(std::current_exception()) || ...)) throw;
            passing = std::current_exception();
            return false;
        }
    });
    if (passing) std::rethrow_exception(passing);
    return result;
}

}  // namespace trp
